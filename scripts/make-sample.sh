#!/usr/bin/env bash
# Rebuilds the sample game databases in sample/cdl from Debian's mame-data
# software lists (CC0-1.0): every CD-based console list, and
# sample/version.ini naming each database with its size and digest.
set -euo pipefail
cd "$(dirname "$0")/.."
hash=${MAME_HASH_DIR:-/usr/share/games/mame/hash}
[ -d "$hash" ] || { echo "No software lists in $hash: install the mame-data package" >&2; exit 1; }

# list|display name as collectors call the system[|country of a system sold
# in one country only, whose list names no region]
systems=(
  "psx|Sony PlayStation"
  "saturn|Sega Saturn"
  "dc|Sega Dreamcast"
  "segacd|Sega CD"
  "megacd|Sega Mega-CD (Europe)"
  "megacdj|Sega Mega-CD (Japan)"
  "pcecd|NEC PC Engine CD-ROM2"
  "pcfx|NEC PC-FX|Japan"
  "neocd|SNK Neo Geo CD"
  "cdi|Philips CD-i"
  "cd32|Commodore Amiga CD32"
  "cdtv|Commodore CDTV"
  "fmtowns_cd|Fujitsu FM Towns Marty|Japan"
  "pippin|Bandai Pippin"
  "vsmile_cd|VTech V.Flash"
  "vis|Tandy VIS|USA"
  "nuon|NUON"
  "hyperscan|Mattel HyperScan"
  "3do_m2|3DO M2"
)
mkdir -p sample/cdl/data
for entry in "${systems[@]}"; do
  IFS='|' read -r list name country <<<"$entry"
  scripts/softlist2cdl.py "$hash/$list.xml" "sample/cdl/$list.cdl" "$name" --country "${country:-}"
done
python3 scripts/write_manifest.py sample/cdl sample/version.ini --program 0.2

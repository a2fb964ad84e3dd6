#!/usr/bin/env bash
# Rebuilds the sample game databases in sample/cdl from Debian's mame-data
# software lists (CC0-1.0), and sample/version.ini naming each of them.
set -euo pipefail
cd "$(dirname "$0")/.."
hash=${MAME_HASH_DIR:-/usr/share/games/mame/hash}
[ -d "$hash" ] || { echo "No software lists in $hash: install the mame-data package" >&2; exit 1; }

systems=(
  "psx|Sony PlayStation"
  "saturn|Sega Saturn"
  "pcecd|NEC PC Engine CD-ROM2"
  "segacd|Sega CD"
  "neocd|SNK Neo Geo CD"
  "cdi|Philips CD-i"
)
mkdir -p sample/cdl/data
manifest="Main;0.2"$'\r\n'
for entry in "${systems[@]}"; do
  list=${entry%%|*} name=${entry#*|}
  scripts/softlist2cdl.py "$hash/$list.xml" "sample/cdl/$list.cdl" "$name"
  # A line changes whenever its database does.
  manifest+="$list.cdl;$(sha1sum "sample/cdl/$list.cdl" | cut -c1-12)"$'\r\n'
done
printf '%s' "$manifest" > sample/version.ini
echo "sample/version.ini: $(( ${#systems[@]} + 1 )) entries"

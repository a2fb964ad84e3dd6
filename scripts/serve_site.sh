#!/usr/bin/env bash
# Serves a local update site with python3's web server on the address the
# program was built with (default http://127.0.0.1:8470). The folder is laid
# out as index.html, tirmo/version.ini and tirmo/cdl/*.cdl; without one, a
# site is made in build/site from sample/ (the databases and a fresh manifest),
# signed with --sign SECRET_KEY (a minisign key: see README, "Publishing")
# for a TIRMO built with the matching TIRMO_UPDATE_KEY, and with the
# screenshot that the metainfo names.
# Usage: scripts/serve_site.sh [--sign SECRET_KEY] [SITE_FOLDER] [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
sign=()
if [ "${1:-}" = "--sign" ]; then
  [ $# -ge 2 ] || { echo "serve_site.sh: --sign needs a minisign secret key file" >&2; exit 2; }
  sign=(--sign "$2")
  shift 2
fi
site=${1:-}
port=${2:-8470}
if [ -z "$site" ]; then
  site=build/site
  mkdir -p "$site/tirmo/cdl"
  cp sample/cdl/*.cdl "$site/tirmo/cdl/"
  rm -f "$site/tirmo/version.ini.minisig"
  python3 scripts/write_manifest.py "$site/tirmo/cdl" "$site/tirmo/version.ini" --program 0.2 "${sign[@]}"
  # The screenshot that the metainfo names.
  cp desktop/screenshot.png "$site/tirmo/"
  [ -f "$site/index.html" ] || echo "<html><body><h1>TIRMO</h1><p>Game databases: <a href=\"tirmo/version.ini\">version.ini</a></p></body></html>" > "$site/index.html"
elif [ ${#sign[@]} -gt 0 ]; then
  echo "serve_site.sh: --sign signs the sample site only; sign your own with scripts/write_manifest.py --sign" >&2
  exit 2
fi
echo "Serving $site on http://127.0.0.1:$port/ (Ctrl-C ends)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"

#!/usr/bin/env bash
# Serves a local update site with python3's web server on the address the
# program was built with (default http://127.0.0.1:8470). The folder is laid
# out as index.html, tirmo/version.ini and tirmo/cdl/*.cdl; without one, a
# site is made in build/site from sample/ (the databases and a fresh manifest).
# Usage: scripts/serve_site.sh [SITE_FOLDER] [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
site=${1:-}
port=${2:-8470}
if [ -z "$site" ]; then
  site=build/site
  mkdir -p "$site/tirmo/cdl"
  cp sample/cdl/*.cdl "$site/tirmo/cdl/"
  python3 scripts/write_manifest.py "$site/tirmo/cdl" "$site/tirmo/version.ini" --program 0.2
  [ -f "$site/index.html" ] || echo "<html><body><h1>TIRMO</h1><p>Game databases: <a href=\"tirmo/version.ini\">version.ini</a></p></body></html>" > "$site/index.html"
fi
echo "Serving $site on http://127.0.0.1:$port/ (Ctrl-C ends)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"

#!/usr/bin/env bash
# Renders the PNG sizes of the icon from its SVG (needs rsvg-convert, Debian
# package librsvg2-bin). The PNGs are committed: building needs no renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" net.velmarin.tirmo.svg -o "icons/$size.png"
done

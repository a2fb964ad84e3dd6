#!/usr/bin/env bash
# Builds TIRMO and runs it on its sample data. Without a display it starts
# the program on a virtual one, saves a screenshot, says where, and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
scripts/configure.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target tirmo
appdir=build/app
app=$appdir/tirmo

# The runnable folder: the sample data beside the executable. What is there
# already (databases an update brought, the user's ticks) is never overwritten.
mkdir -p "$appdir/cdl/data"
cp -n sample/cdl/*.cdl "$appdir/cdl/"
cp -n sample/version.ini "$appdir/"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$app"
fi

shot=${TIRMO_SCREENSHOT:-$PWD/build/screenshot.png}
title="TIRMO - Velmarin v0.2"
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

# Xvfb picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

QT_QPA_PLATFORM=xcb "$app" 2>"$work/tirmo.log" &
pids+=($!)
# Wait for the main window to be mapped, then give it a moment to paint.
window=""
for _ in $(seq 100); do
  window=$(xwininfo -name "$title" 2>/dev/null | awk '/Window id:/ {print $4}') && [ -n "$window" ] && break
  kill -0 "${pids[1]}" 2>/dev/null || { echo "TIRMO ended early:" >&2; cat "$work/tirmo.log" >&2; exit 1; }
  sleep 0.2
done
[ -n "$window" ] || { echo "TIRMO showed no window within 20 s" >&2; exit 1; }
sleep "${TIRMO_SCREENSHOT_DELAY:-1}"
import -window "$window" "$shot"
echo "No display: TIRMO ran on a virtual display; screenshot of its window saved to $shot"

#!/usr/bin/env bash
# CaptureFile throughput of the socket component against socat as the
# receiver of the same peer in the same run, and the CPU cost of a ReadLn
# that waits 2 s on a silent peer.
#
# Usage: bench/sock_capture.sh [BUILD_DIR] [RUNS]
# The peer is socat sending 1 GiB from /dev/zero over 127.0.0.1; each
# receiver writes into a file on tmpfs. One warm-up round, then RUNS rounds;
# the medians are printed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
bin="$build/bench/sock_capture"
size=$((1 << 30))
command -v socat >/dev/null || { echo "socat is missing: scripts/deps.sh bench" >&2; exit 1; }
[ -x "$bin" ] || { echo "$bin is missing: build the benchmarks first" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d "${BENCH_TMP:-/dev/shm}/sock_capture.XXXXXX")
export XDG_RUNTIME_DIR="$work"
sender=""
cleanup() {
  [ -n "$sender" ] && kill "$sender" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts socat sending $size bytes to the first client of a fresh port;
# sets $port once it listens.
start_sender() {
  port=$(free_port)
  socat -u OPEN:/dev/zero,readbytes=$size TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr &
  sender=$!
  for _ in $(seq 200); do
    ss -ltn "sport = :$port" | grep -q LISTEN && return 0
    sleep 0.01
  done
  echo "socat did not start listening on $port" >&2
  exit 1
}

finish_sender() {
  wait "$sender" || true
  sender=""
}

check_size() {
  local got
  got=$(stat -c %s "$1")
  [ "$got" -eq "$size" ] || { echo "$1 holds $got bytes, not $size" >&2; exit 1; }
  rm -f "$1"
}

# MB/s of socat receiving from a fresh sender, with socat's extra options.
socat_rate() {
  start_sender
  local t0 t1
  t0=$(date +%s.%N)
  socat "$@" -u TCP:127.0.0.1:$port CREATE:"$work/socat.out"
  t1=$(date +%s.%N)
  finish_sender
  check_size "$work/socat.out"
  python3 -c "print($size / ($t1 - $t0) / 1e6)"
}

# One round: socat as it comes (8 KiB blocks), socat with 64 KiB blocks, then
# our CaptureFile, each against a fresh sender. Prints the three MB/s.
round() {
  local plain big
  plain=$(socat_rate)
  big=$(socat_rate -b 65536)

  start_sender
  local result
  result=$("$bin" capture "$port" "$work/capture.out")
  finish_sender
  check_size "$work/capture.out"
  local capture_rate
  capture_rate=$(python3 -c "b, s = '$result'.split(); print(int(b) / float(s) / 1e6)")
  echo "$plain $big $capture_rate"
}

round >/dev/null # warm-up
results=()
for i in $(seq "$runs"); do
  r=$(round)
  printf 'round %d: socat %.0f MB/s, socat -b 65536 %.0f MB/s, CaptureFile %.0f MB/s\n' "$i" $r
  results+=("$r")
done
printf '%s\n' "${results[@]}" | python3 -c '
import statistics, sys
rows = [tuple(map(float, l.split())) for l in sys.stdin if l.strip()]
plain = statistics.median(r[0] for r in rows)
big = statistics.median(r[1] for r in rows)
capture = statistics.median(r[2] for r in rows)
ratio = statistics.median(r[2] / r[1] for r in rows)
print(f"1 GiB over 127.0.0.1 (medians): socat {plain:.0f} MB/s, socat -b 65536 {big:.0f} MB/s, "
      f"CaptureFile {capture:.0f} MB/s; ratio to socat -b 65536 {ratio:.2f} (target >= 0.90)")
print(f"FIGURE sock_capture_1GiB {capture:.0f} MB/s peer={big:.0f} minratio=0.9")'

"$bin" idle "$runs"

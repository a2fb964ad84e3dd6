#!/usr/bin/env bash
# Throughput of TNMHTTP.Get next to curl, fetching the same 512 MiB file from
# the same nginx on a free loopback port, in the same run.
# Usage: bench/http_get.sh [BUILD_DIR] [RUNS]   (default: build, 5 runs after a warm-up)
# Prints the median time and throughput of each and their ratio (Get / curl).
# The copies go to a tmpfs (/dev/shm) when there is one, so that the figures
# measure the transfer rather than the disk; OUT_DIR=dir chooses another place.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
httpget=$build/bench/httpget
[ -x "$httpget" ] || { echo "build $httpget first (cmake --build $build)" >&2; exit 1; }
command -v nginx >/dev/null && command -v curl >/dev/null || { echo "run scripts/deps.sh bench" >&2; exit 1; }

tmp=$(mktemp -d)
out=${OUT_DIR:-}
[ -z "$out" ] && { [ -d /dev/shm ] && out=$(mktemp -d /dev/shm/http_get.XXXXXX) || out=$tmp/out; }
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -f "$out/get.bin" "$out/curl.bin"
  [ -n "${OUT_DIR:-}" ] || rmdir "$out" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

chmod 755 "$tmp"  # nginx workers run as an unprivileged user
mkdir -p "$tmp/root" "$out" "$tmp/xdg"
chmod 700 "$tmp/xdg"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$tmp/xdg}
size=$((512 * 1024 * 1024))
head -c "$size" /dev/urandom > "$tmp/root/big.bin"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -e "s|ROOT|$tmp/root|; s|PORT|$port|; s|TMP|$tmp|g" bench/nginx-http.conf > "$tmp/nginx.conf"
nginx -c "$tmp/nginx.conf" -p "$tmp" -e "$tmp/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done
url="http://127.0.0.1:$port/big.bin"

get_once() {
  local result
  result=$("$httpget" "$url" "$out/get.bin")
  [ "$(awk '/^ReceivedBytes/ {print $2}' <<<"$result")" = "$size" ] || { echo "Get: short file: $result" >&2; exit 1; }
  awk -v what="$1" '$1 == what {print $2}' <<<"$result"
}
curl_once() {
  curl -s -o "$out/curl.bin" -w '%{time_total}\n' "$url"
}
median() { sort -g | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# Warm-up (page cache, first connections), and a check of what arrived.
packets=$(get_once Packets)
curl_once >/dev/null
cmp -s "$out/get.bin" "$tmp/root/big.bin" || { echo "Get: file differs from the served one" >&2; exit 1; }
cmp -s "$out/curl.bin" "$tmp/root/big.bin" || { echo "curl: file differs from the served one" >&2; exit 1; }

get_times=() curl_times=()
for _ in $(seq "$runs"); do
  get_times+=("$(get_once Seconds)")
  curl_times+=("$(curl_once)")
done
get_s=$(printf '%s\n' "${get_times[@]}" | median)
curl_s=$(printf '%s\n' "${curl_times[@]}" | median)
awk -v g="$get_s" -v c="$curl_s" -v m="$((size / 1024 / 1024))" -v n="$runs" -v p="$packets" -v o="$out" 'BEGIN {
  printf "file            %d MiB to %s, %d runs after a warm-up, medians\n", m, o, n
  printf "TNMHTTP.Get     %.3f s  %8.1f MiB/s  (%d OnPacketRecvd calls)\n", g, m / g, p
  printf "curl            %.3f s  %8.1f MiB/s\n", c, m / c
  printf "ratio Get/curl  %.2f\n", c / g
  printf "FIGURE http_get_512MiB %.1f MiB/s peer=%.1f minratio=0.95\n", m / g, m / c
}'

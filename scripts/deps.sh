#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# only those that are missing. Usage: scripts/deps.sh build|run|test|package|bench|fuzz
set -euo pipefail

build=(cmake ninja-build g++ ccache pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
       libgtest-dev libbenchmark-dev libsodium-dev python3 fonts-dejavu-core)
run=(xvfb xauth x11-apps x11-utils imagemagick)
package=(dpkg-dev lintian)
test=(xvfb x11-utils python3 desktop-file-utils appstream appstream-util libglib2.0-bin
      util-linux "${package[@]}" clang-format-14 clang-tidy-14 minisign
      at-spi2-core gir1.2-atspi-2.0 python3-gi dbus-x11 xdotool orca)
bench=(socat nginx-light curl time minisign)
fuzz=(clang-14 libclang-rt-14-dev)

wanted=("${build[@]}")
case "${1:-build}" in
  run) wanted+=("${run[@]}") ;;
  test) wanted+=("${test[@]}") ;;
  package) wanted+=("${package[@]}") ;;
  bench) wanted+=("${bench[@]}") ;;
  fuzz) wanted+=("${fuzz[@]}") ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

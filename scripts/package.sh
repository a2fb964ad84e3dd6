#!/usr/bin/env bash
# Builds the Debian package tirmo_<version>_<arch>.deb in build-package/ (a
# release build for /usr with Debian's hardening flags) and checks it with
# lintian. Extra arguments go to CMake, e.g. -DTIRMO_SITE_URL=https://...
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package
dir=build-package
# The flags Debian builds its packages with (hardening, optimisation).
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
scripts/configure.sh "$dir" -DCMAKE_BUILD_TYPE=Release -DTIRMO_BUILD_TESTS=OFF \
  -DTIRMO_BUILD_BENCH=OFF "$@"
cmake --build "$dir"
(cd "$dir" && cpack -G DEB)
deb=$(ls -t "$dir"/tirmo_*.deb | head -1)
lintian --fail-on error "$deb"
echo "Built $deb ($(du -k "$deb" | cut -f1) KiB)"

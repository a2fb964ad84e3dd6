#!/usr/bin/env bash
# Builds and runs the whole test suite: once in a normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer. Warnings are errors here,
# and the C++ files must be in the shape of .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/check-format.sh
export CCACHE_BASEDIR="$(cd .. && pwd)" CCACHE_NOHASHDIR=true

scripts/configure.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIRMO_WERROR=ON
cmake --build build
# Static analysis (.clang-tidy) of the program's sources and the fuzz
# harnesses, with this build's compile commands; any finding fails the run.
run-clang-tidy-14 -quiet -p build -clang-tidy-binary clang-tidy-14 -j 2 \
  "$PWD/(platform|grid|net|updater|app|fuzz)/[^/]+\.cpp\$"
ctest --test-dir build --output-on-failure -j2 --timeout 300

scripts/configure.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTIRMO_SANITIZE=ON -DTIRMO_BUILD_BENCH=OFF -DTIRMO_WERROR=ON
cmake --build build-asan
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":print_suppressions=0 \
  ctest --test-dir build-asan --output-on-failure -j2 --timeout 600

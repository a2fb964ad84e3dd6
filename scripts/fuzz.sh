#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs one of them.
# Usage: scripts/fuzz.sh                     lists the targets
#        scripts/fuzz.sh TARGET [SECONDS] [libFuzzer options...]
# The run starts from fuzz/corpus/TARGET/ (read only) and keeps what it
# finds in build-fuzz/corpus/TARGET/; a failing input is written to
# build-fuzz/artifacts/TARGET/. Keep it in fuzz/crashes/TARGET/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then
  ls fuzz/*_fuzz.cpp | sed 's|fuzz/\(.*\)_fuzz.cpp|\1|'
  exit 0
fi
target=$1
seconds=${2:-600}
shift $(( $# < 2 ? $# : 2 ))
[ -f "fuzz/${target}_fuzz.cpp" ] || { echo "no fuzz target $target (fuzz/${target}_fuzz.cpp)" >&2; exit 2; }

scripts/deps.sh fuzz
scripts/configure.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DTIRMO_SANITIZE=ON -DTIRMO_FUZZ=ON -DTIRMO_BUILD_TESTS=OFF -DTIRMO_BUILD_BENCH=OFF -DTIRMO_WERROR=ON
cmake --build build-fuzz --target "fuzz_$target"

mkdir -p "build-fuzz/corpus/$target" "build-fuzz/artifacts/$target"
dict=()
[ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":print_suppressions=0
export QT_QPA_PLATFORM=offscreen LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="build-fuzz/artifacts/$target/" "${dict[@]}" "$@" \
  "build-fuzz/corpus/$target" "fuzz/corpus/$target"

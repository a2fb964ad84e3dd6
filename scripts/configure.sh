#!/usr/bin/env bash
# Configures a build folder. Usage: scripts/configure.sh DIR [cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$(cd .. && pwd)" CCACHE_NOHASHDIR=true
fi
cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null

#!/usr/bin/env bash
# Builds the benchmarks in a release build (build-bench/), runs them and
# prints one table of their figures: each with its peer measured in the same
# run, the ratio (ours / peer) and the target. Then the scale table.
#
# Usage: scripts/bench.sh [NAME...]   (default: every benchmark below)
#
# A benchmark reports each figure on a line of its own:
#   FIGURE <name> <value> <unit> [peer=<value>] [max=<v>] [min=<v>] [maxratio=<r>] [minratio=<r>]
# max/min bound the value, maxratio/minratio bound value / peer. A time is
# the median of at least 5 runs after a warm-up; the peer's comes from the
# same run. The scale benchmark reports "SCALE" lines, printed as they come.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-bench
runs=${BENCH_RUNS:-5}

# name and command of each benchmark; the .sh drivers take the build folder
# and the number of runs.
declare -A command=(
  [startup]="$build/bench/startup 15"
  [textfile]="$build/bench/TextFile_bench"
  [grid_load]="$build/bench/grid_load"
  [grid_sort]="$build/bench/grid_sort"
  [grid_paint]="$build/bench/grid_paint"
  [collection]="$build/bench/collection"
  [sock_capture]="bench/sock_capture.sh $build $runs"
  [http_get]="bench/http_get.sh $build $runs"
  [update_check]="$build/bench/update_check"
  [scale]="$build/bench/scale"
)
order=(startup textfile grid_load grid_sort grid_paint collection update_check sock_capture http_get scale)
[ $# -gt 0 ] && order=("$@")
for name in "${order[@]}"; do
  [ -n "${command[$name]:-}" ] || { echo "no benchmark named $name; known: ${!command[*]}" >&2; exit 2; }
done

scripts/deps.sh bench
# -O2, the level of the program's own RelWithDebInfo build, so the figures
# are those of the code users run (at -O3 g++ 12 also warns falsely,
# -Wrestrict, in string concatenations).
scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DTIRMO_BUILD_TESTS=OFF
cmake --build "$build"

log=$build/bench-output.txt
: > "$log"
export QT_QPA_PLATFORM=offscreen
for name in "${order[@]}"; do
  echo "== $name: ${command[$name]}" | tee -a "$log"
  # shellcheck disable=SC2086 # the command is words by design
  if ! ${command[$name]} 2>&1 | tee -a "$log"; then
    echo "FAILED $name" | tee -a "$log"
  fi
done

echo
echo "Figures (ratio = ours / peer, both from the same run; all output in $log)"
echo
awk '
  function target(  t, k) {
    t = ""
    for (k in bound) if (bound[k] != "") {
      if (k == "max") t = t sprintf("%s<= %s %s", t ? ", " : "", bound[k], unit)
      if (k == "min") t = t sprintf("%s>= %s %s", t ? ", " : "", bound[k], unit)
      if (k == "maxratio") t = t sprintf("%sratio <= %s", t ? ", " : "", bound[k])
      if (k == "minratio") t = t sprintf("%sratio >= %s", t ? ", " : "", bound[k])
    }
    return t
  }
  BEGIN {
    print "| figure | ours | peer | ratio | target | met |"
    print "|---|---:|---:|---:|---|---|"
  }
  $1 == "FAILED" { failed = failed " " $2 }
  $1 == "FIGURE" {
    name = $2; value = $3; unit = $4; peer = ""
    split("", bound)
    for (i = 5; i <= NF; i++) {
      split($i, kv, "=")
      if (kv[1] == "peer") peer = kv[2]; else bound[kv[1]] = kv[2]
    }
    ratio = (peer != "" && peer + 0 != 0) ? value / peer : ""
    met = "yes"
    if (bound["max"] != "" && value + 0 > bound["max"] + 0) met = "**no**"
    if (bound["min"] != "" && value + 0 < bound["min"] + 0) met = "**no**"
    if (bound["maxratio"] != "" && (ratio == "" || ratio > bound["maxratio"] + 0)) met = "**no**"
    if (bound["minratio"] != "" && (ratio == "" || ratio < bound["minratio"] + 0)) met = "**no**"
    t = target()
    if (t == "") met = "-"
    printf "| %s | %s %s | %s | %s | %s | %s |\n", name, value, unit, peer != "" ? peer " " unit : "-",
      ratio != "" ? sprintf("%.2f", ratio) : "-", t != "" ? t : "-", met
  }
  END { if (failed != "") print "\nFailed to run:" failed }
' "$log"

if grep -q '^SCALE' "$log"; then
  echo
  echo "Scale (CPU ms, medians; in brackets the growth from a tenth of the games)"
  echo
  sed -n 's/^SCALE //p' "$log"
fi

echo
echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores," \
  "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) RAM, $(uname -sr)," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"

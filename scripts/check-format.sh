#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the tree is not in the shape of
# .clang-format. Pinned to clang-format 14, Debian 12's: another version formats
# some lines differently. With --fix, formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
format=clang-format-14
# The sources' folders, not the build folders beside them; works without git.
mapfile -t files < <(find platform grid net updater app tests bench fuzz \
  -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
if [ "${1:-}" = --fix ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted by .clang-format (run scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "Format: ${#files[@]} files in the shape of .clang-format"

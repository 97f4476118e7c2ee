#!/bin/sh
# Runs clang-tidy (the checks in .clang-tidy) over the sources of src/ and
# tools/ with the compile commands of a build folder; any finding fails.
set -eu
cd "$(dirname "$0")/.."
build="${1:-build}"
log="$build/clang-tidy.log"
grep -o '"file": "[^"]*"' "$build/compile_commands.json" | sed 's/"file": "//; s/"$//' |
  grep -E "/(src|tools)/" | sort -u >"$build/tidy-files.txt"
if xargs -P"$(nproc)" -n 4 clang-tidy -p "$build" --quiet --warnings-as-errors='*' \
  --extra-arg=-Wno-unknown-warning-option \
  <"$build/tidy-files.txt" >"$log" 2>&1; then
  echo "clang-tidy: no findings in $(wc -l <"$build/tidy-files.txt") files"
else
  grep -E "(warning|error):" "$log" | sort -u | head -n 60
  exit 1
fi

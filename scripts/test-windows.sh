#!/bin/sh
# Cross-builds the core, the command-line tools and the unit tests for Windows
# (MinGW-w64, warnings as errors, no GUI: the GUI needs the hour-long wx build
# of scripts/build-windows-wx.sh) and runs them under Wine: the unit tests, and
# a one-second simulated recording with tamix-record.exe, with a marker from
# standard input, checked by the tests' WinDaq reader built for Linux.
#
#   scripts/test-windows.sh [LINUX_BUILD_DIR]   (default: build)
set -eu
cd "$(dirname "$0")/.."
LINUX_BUILD="${1:-build}"
BUILD=build-win-core
start=$(date +%s)

cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTAMIX_BUILD_GUI=OFF -DTAMIX_BUILD_BENCH=OFF \
  -DTAMIX_WERROR=ON >/dev/null
nice -n 19 cmake --build "$BUILD" -j2 --target tamix_unit_tests tamix-record tamix-file
echo "Windows: the core, tamix-record.exe, tamix-file.exe and the unit tests build without warnings"

# A prefix of its own, made once, so that the user's Wine set-up is never touched.
export WINEPREFIX="$PWD/$BUILD/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if ! command -v wine >/dev/null 2>&1 || ! timeout 120 wine cmd /c exit >/dev/null 2>&1; then
  echo "Windows: Wine cannot start here; the Windows tests are skipped"
  exit 0
fi

timeout 900 wine "$BUILD/tests/tamix_unit_tests.exe" --gtest_brief=1

cmake -S . -B "$LINUX_BUILD" >/dev/null
cmake --build "$LINUX_BUILD" --target wdq_check >/dev/null
out="$BUILD/windows-e2e"
rm -rf "$out"
mkdir -p "$out"
# The file name is UTF-8 all the way to the Windows file API.
file="$out/Messung ä.wdq"
printf 'from stdin\n' | timeout 120 wine "$BUILD/tools/tamix-record.exe" --simulate --time 1 "$file"
"$LINUX_BUILD/tests/wdq_check" "$file" 500 2
timeout 60 wine "$BUILD/tools/tamix-file.exe" info "$file" >"$out/info.txt"
grep -q "^Scans: *50[0-9]" "$out/info.txt" || { cat "$out/info.txt"; exit 1; }
echo "Windows: tamix-record.exe recorded $(sed -n 's/^Scans: *//p' "$out/info.txt") scans under Wine; the reader agrees"
echo "Windows: tests took $(( $(date +%s) - start )) s"

#!/bin/sh
# Cross-builds the Windows programs (tamix.exe, tamix-record.exe, tamix-file.exe)
# with MinGW-w64 against the cached static wxWidgets of
# scripts/build-windows-wx.sh, and packs them into build-win/tamix-VERSION-windows-x64.zip
# and, with NSIS, an installer (Start-menu entries, icon, uninstaller).
# The programs need no DLLs; real instruments need the FTDI D2XX driver.
set -eu
cd "$(dirname "$0")/.."
BUILD=build-win
wxconfig="$(scripts/build-windows-wx.sh | tail -n 1)"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTAMIX_BUILD_BENCH=OFF \
  -DwxWidgets_CONFIG_EXECUTABLE="$wxconfig" >/dev/null
nice -n 19 cmake --build "$BUILD" -j2 --target tamix tamix-record tamix-file
x86_64-w64-mingw32-strip "$BUILD/src/app/tamix.exe" "$BUILD/tools/tamix-record.exe" "$BUILD/tools/tamix-file.exe"

version="$(sed -n 's/^project(Tamix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
stage="$BUILD/tamix-$version"
rm -rf "$stage"
mkdir -p "$stage"
cp "$BUILD/src/app/tamix.exe" "$BUILD/tools/tamix-record.exe" "$BUILD/tools/tamix-file.exe" \
  packaging/windows/tamix.ico "$stage/"
cp packaging/windows/README-windows.txt "$stage/README.txt"
zip="$PWD/$BUILD/tamix-$version-windows-x64.zip"
rm -f "$zip"
(cd "$BUILD" && zip -qr "$zip" "tamix-$version")
echo "$zip"

if command -v makensis >/dev/null 2>&1; then
  makensis -V2 -DVERSION="$version" -DSTAGE="$PWD/$stage" \
    -DOUTFILE="$PWD/$BUILD/tamix-$version-setup.exe" packaging/windows/tamix.nsi
  echo "$PWD/$BUILD/tamix-$version-setup.exe"
fi

#!/bin/sh
# Builds a static wxWidgets 3.2 for MSW with the MinGW-w64 cross compiler, from
# Debian's own source package, so the Windows build links against the same wx
# release as the Linux one. The result lives in a cache outside every build
# tree because it takes the better part of an hour on a small machine; a stamp
# file makes later runs return at once.
#
#   TAMIX_WX_MSW_PREFIX  install prefix (default: $XDG_CACHE_HOME/tamix/wx-msw)
#   TAMIX_WX_JOBS        parallel make jobs (default: 2)
#
# Prints the path of the wx-config to hand to CMake on its last line.
set -eu

PREFIX="${TAMIX_WX_MSW_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tamix/wx-msw}"
JOBS="${TAMIX_WX_JOBS:-2}"
HOST=x86_64-w64-mingw32
# Bump when the configure options below change, so old caches are rebuilt.
STAMP_TAG="wxwidgets3.2-msw-static-1"
STAMP="$PREFIX/.tamix-built"

if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$STAMP_TAG" ] && [ -x "$PREFIX/bin/wx-config" ]; then
  echo "wxWidgets for MSW already built in $PREFIX"
  echo "$PREFIX/bin/wx-config"
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# apt-get source needs deb-src entries, which a default Debian 12 install lacks.
# A separate file keeps the system's own list untouched and makes a second run a no-op.
enable_deb_src() {
  if grep -Eqs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
     grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list; then
    return 0
  fi
  src_file=/etc/apt/sources.list.d/tamix-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $SUDO tee "$src_file" >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list |
      $SUDO tee /etc/apt/sources.list.d/tamix-deb-src.list >/dev/null
  else
    echo "no apt source list found to derive deb-src entries from" >&2
    exit 1
  fi
}

install_packages() {
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  # shellcheck disable=SC2086
  $SUDO apt-get install -y --no-install-recommends $missing || {
    $SUDO apt-get update
    # shellcheck disable=SC2086
    $SUDO apt-get install -y --no-install-recommends $missing
  }
}

# wine lets the cross-built programs and tests run here; nsis makes the installer.
install_packages g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools \
  dpkg-dev make pkg-config xz-utils wine wine64 nsis
enable_deb_src
# Without a source index (deb-src just added, or lists never fetched) apt-get
# source cannot find the package.
apt-cache showsrc wxwidgets3.2 2>/dev/null | grep -q '^Package:' || $SUDO apt-get update

SRC_CACHE="$(dirname "$PREFIX")/wx-msw-src"
mkdir -p "$SRC_CACHE"
cd "$SRC_CACHE"
srcdir="$(find . -maxdepth 1 -type d -name 'wxwidgets3.2-*' | sort | tail -n 1)"
if [ -z "$srcdir" ]; then
  apt-get source --only-source wxwidgets3.2
  srcdir="$(find . -maxdepth 1 -type d -name 'wxwidgets3.2-*' | sort | tail -n 1)"
fi
[ -n "$srcdir" ] || { echo "apt-get source wxwidgets3.2 gave no source tree" >&2; exit 1; }
srcdir="$SRC_CACHE/${srcdir#./}"
echo "wxWidgets source: $srcdir"

builddir="$SRC_CACHE/build-msw"
# An interrupted build (a session or CI job that ran out of time) resumes
# where make stopped, as long as it was configured the same way.
configured="$builddir/.tamix-configured"
config_id="$STAMP_TAG $srcdir $PREFIX"
if [ -f "$configured" ] && [ "$(cat "$configured")" = "$config_id" ]; then
  echo "resuming the wxWidgets build in $builddir"
  cd "$builddir"
else
  rm -rf "$builddir"
  mkdir -p "$builddir"
  cd "$builddir"

  # Static everything and only what the program draws with: the optional
  # libraries (web view, media, Scintilla, rich text, ribbon, property grid, AUI,
  # HTML, XRC, XML, OpenGL) are most of the compile time and none of them is
  # linked. Debian's source package strips wx's bundled zlib, libpng, libjpeg,
  # libtiff and expat, and linking MinGW builds of them would add DLLs next to
  # the .exe; the program's images are all XPM, so it needs none of them
  # (and wxSVGFileDC, which writes PNG, goes with them).
  "$srcdir/configure" \
    --host="$HOST" \
    --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
    --prefix="$PREFIX" \
    CC="$HOST-gcc-posix" CXX="$HOST-g++-posix" \
    CFLAGS="-O2" CXXFLAGS="-O2" \
    --with-msw \
    --disable-shared \
    --disable-debug_info \
    --enable-unicode \
    --without-zlib --without-libpng --without-libjpeg --without-libtiff \
    --without-expat --disable-svg --with-regex=builtin \
    --without-opengl --without-libnotify --without-liblzma --without-libcurl \
    --disable-webview --disable-mediactrl --disable-stc --disable-richtext \
    --disable-ribbon --disable-propgrid --disable-aui --disable-html \
    --disable-xrc --disable-htmlhelp --disable-webrequest --disable-sys-libs \
    --disable-precomp-headers --disable-tests
  echo "$config_id" >"$configured"
fi

make -j"$JOBS"
rm -rf "$PREFIX"
make install

# wx-config must answer for this build alone, or CMake's FindwxWidgets could
# mix it up with the host's GTK build.
"$PREFIX/bin/wx-config" --libs core,base >/dev/null

echo "$STAMP_TAG" >"$STAMP"
echo "wxWidgets for MSW installed in $PREFIX"
echo "$PREFIX/bin/wx-config"

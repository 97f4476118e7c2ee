#!/bin/sh
# Installs the Debian packages Tamix needs to build, run and test. Safe to run again.
set -eu
PACKAGES="cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
libwxgtk3.2-dev libcairo2-dev libatk1.0-dev xvfb xauth locales-all python3 libedf-dev nlohmann-json3-dev libfftw3-dev \
python3-pandas python3-scipy python3-mne clang clang-tidy \
g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 nsis zip imagemagick \
xdotool openbox x11-utils dbus-daemon at-spi2-core python3-pyatspi python3-pil python3-numpy \
lintian devscripts"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# shellcheck disable=SC2086
$SUDO apt-get install -y --no-install-recommends $missing || {
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends $missing
}

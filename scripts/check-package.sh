#!/bin/sh
# Builds the Debian package from an existing build directory and checks it the
# way a user would meet it: its control data and file list, the desktop entry
# and metainfo as installed, a short simulated recording with the packaged
# tamix-record, a dry-run installation and the man pages.
#
#   scripts/check-package.sh [BUILD_DIR]     (default: build)
#
# Prints one PASS/FAIL/SKIP line per check; exits 1 when any check failed.

# The sh -c snippets below take their values as arguments, not expansions.
# shellcheck disable=SC2016
set -u
cd "$(dirname "$0")/.." || exit 1
BUILD="${1:-build}"

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# cpack needs file and dpkg-shlibdeps (dpkg-dev) to work out the dependencies.
PACKAGES="cmake dpkg-dev file binutils gzip desktop-file-utils appstream man-db librsvg2-bin"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  # shellcheck disable=SC2086
  $SUDO apt-get install -y --no-install-recommends $missing >/dev/null || {
    $SUDO apt-get update >/dev/null
    # shellcheck disable=SC2086
    $SUDO apt-get install -y --no-install-recommends $missing >/dev/null
  } || { echo "FAIL: installing$missing"; exit 1; }
fi

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; }
check() { # check DESCRIPTION COMMAND...
  desc="$1"; shift
  if "$@" >"$SCRATCH/last.log" 2>&1; then pass "$desc"; else fail "$desc"; sed 's/^/    /' "$SCRATCH/last.log" | tail -n 20; fi
}

if [ ! -f "$BUILD/CPackConfig.cmake" ]; then
  echo "FAIL: $BUILD is not a configured build directory of this project (no CPackConfig.cmake)"
  exit 1
fi
BUILD="$(cd "$BUILD" && pwd)"
SCRATCH="$(mktemp -d)"
trap 'rm -rf "$SCRATCH"' EXIT INT TERM

# A stale .deb must not pass for the new one.
rm -f "$BUILD"/tamix_*.deb
if nice -n 19 cmake --build "$BUILD" -j2 >"$SCRATCH/build.log" 2>&1 &&
   (cd "$BUILD" && nice -n 19 cpack -G DEB) >"$SCRATCH/cpack.log" 2>&1; then
  pass "cpack -G DEB in $BUILD"
else
  fail "cpack -G DEB in $BUILD"
  tail -n 30 "$SCRATCH/build.log" "$SCRATCH/cpack.log"
  exit 1
fi
DEB="$(find "$BUILD" -maxdepth 1 -name 'tamix_*.deb' | head -n 1)"
case "$DEB" in
  */tamix_*_*.deb) pass "package file name $(basename "$DEB")" ;;
  *) fail "no tamix_<version>_<arch>.deb in $BUILD"; exit 1 ;;
esac

dpkg-deb --info "$DEB" >"$SCRATCH/info" 2>&1
field() { sed -n "s/^ $1: //p" "$SCRATCH/info"; }
check "control: Package is tamix" test "$(field Package)" = tamix
check "control: Section is science" test "$(field Section)" = science
check "control: Maintainer is set" test -n "$(field Maintainer)"
check "control: Depends from the linked libraries ($(field Depends | cut -c1-60)...)" \
  sh -c 'printf "%s\n" "$1" | grep -q "libc6"' sh "$(field Depends)"
check "control: postinst present" sh -c 'dpkg-deb --info "$1" postinst >/dev/null' sh "$DEB"

dpkg-deb --contents "$DEB" | awk '{print $NF}' | sed 's|^\./|/|' >"$SCRATCH/contents"
has() { grep -qx "$1" "$SCRATCH/contents"; }
# tamix is built only with wxWidgets, tamix-file only where its sources exist:
# what the build directory made must be in the package, and nothing else is asked.
built() { [ -n "$(find "$BUILD" -type f -name "$1" -perm -u+x 2>/dev/null | head -n 1)" ]; }
for program in tamix tamix-record tamix-sim tamix-file; do
  if built "$program"; then
    check "contents: /usr/bin/$program" has "/usr/bin/$program"
    check "contents: man page of $program" has "/usr/share/man/man1/$program.1.gz"
  else
    skip "$program was not built in $BUILD, so it is not in the package"
  fi
done
if built tamix; then
  check "contents: desktop entry" has /usr/share/applications/tamix.desktop
  check "contents: metainfo" has /usr/share/metainfo/io.github.tamix.Tamix.metainfo.xml
  for size in 16 32 48 64 128 256; do
    check "contents: ${size}x${size} icon" has "/usr/share/icons/hicolor/${size}x${size}/apps/tamix.png"
  done
  check "contents: scalable icon" has /usr/share/icons/hicolor/scalable/apps/tamix.svg
fi
check "contents: udev rule" has /usr/lib/udev/rules.d/60-tamix-ftdi.rules

ROOT="$SCRATCH/root"
check "dpkg-deb -x into a scratch root" dpkg-deb -x "$DEB" "$ROOT"
if built tamix; then
  check "desktop-file-validate on the installed entry" \
    desktop-file-validate "$ROOT/usr/share/applications/tamix.desktop"
  check "appstreamcli validate --no-net on the installed metainfo" \
    appstreamcli validate --no-net "$ROOT/usr/share/metainfo/io.github.tamix.Tamix.metainfo.xml"
  check "icon PNG sizes match their directories" sh -c '
    for s in 16 32 48 64 128 256; do
      file "$1/usr/share/icons/hicolor/${s}x${s}/apps/tamix.png" | grep -q "$s x $s" || exit 1
    done' sh "$ROOT"
fi

# The packaged recorder, not the one in the build tree, and a profile of its
# own so the user's settings cannot change what is recorded.
recorder="$ROOT/usr/bin/tamix-record"
if ldd "$recorder" 2>/dev/null | grep -q "not found"; then
  fail "packaged tamix-record needs libraries outside the package and the system:"
  ldd "$recorder" | grep "not found" | sed 's/^/    /'
else
  pass "packaged tamix-record finds all its libraries"
fi
mkdir -p "$SCRATCH/config"
out="$SCRATCH/OUT.wdq"
if XDG_CONFIG_HOME="$SCRATCH/config" timeout 60 "$recorder" --simulate --time 1 "$out" \
     </dev/null >"$SCRATCH/record.log" 2>&1; then
  size="$(stat -c %s "$out" 2>/dev/null || echo 0)"
  if [ "$size" -gt 1156 ]; then
    pass "packaged tamix-record --simulate --time 1 wrote $size bytes"
  else
    fail "packaged tamix-record wrote $size bytes, expected more than 1156"
  fi
else
  fail "packaged tamix-record --simulate --time 1 exited with an error"
  sed 's/^/    /' "$SCRATCH/record.log" | tail -n 20
fi
check "packaged tamix-sim --help" "$ROOT/usr/bin/tamix-sim" --help

if built tamix; then
  # The packaged desktop program, driven from outside with X keys and clicks
  # as a user drives it (tests/app/real_input; the installed tamix-file reads
  # the recordings back when the package has it).
  reader="$ROOT/usr/bin/tamix-file"
  [ -x "$reader" ] || reader="$BUILD/tools/tamix-file"
  check "real-input tests on the packaged tamix" /usr/bin/python3 tests/app/real_input/run.py \
    --tamix "$ROOT/usr/bin/tamix" --tamix-file "$reader" --tamix-record "$recorder"
fi

check "dpkg -i --dry-run" $SUDO dpkg -i --dry-run "$DEB"

for page in "$ROOT"/usr/share/man/man1/*.1.gz; do
  [ -f "$page" ] || { fail "no man pages in the package"; break; }
  name="$(basename "$page" .1.gz)"
  check "man -l renders $name(1)" sh -c '
    out="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$1" 2>&1 >/dev/null)" && [ -z "$out" ] &&
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$1" 2>/dev/null | grep -q "^NAME"' sh "$page"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed for $(basename "$DEB")"
  exit 1
fi
echo "all checks passed for $(basename "$DEB")"

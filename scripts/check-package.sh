#!/bin/sh
# Builds the Debian package from an existing build directory and checks it the
# way a user would meet it: its control data and file list, lintian's verdict,
# the hardening and stripping of its programs, file owners and modes, the
# copyright file and changelog, the desktop entry, MIME type and metainfo as
# installed, a short simulated recording with the packaged tamix-record, a
# dry-run installation and the man pages.
#
#   scripts/check-package.sh [BUILD_DIR]     (default: build)
#
# Prints one PASS/FAIL/SKIP line per check; exits 1 when any check failed.
# Lintian's errors fail the check; its warnings and notes are listed.

# The sh -c snippets below take their values as arguments, not expansions.
# shellcheck disable=SC2016
set -u
cd "$(dirname "$0")/.." || exit 1
BUILD="${1:-build}"

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# cpack needs file and dpkg-shlibdeps (dpkg-dev) to work out the dependencies.
# lintian judges the package as Debian would; hardening-check comes with devscripts.
PACKAGES="cmake dpkg-dev file binutils gzip desktop-file-utils appstream man-db librsvg2-bin \
lintian devscripts shared-mime-info libglib2.0-bin"
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
for program in tamix tamix-record tamix-sim tamix-file tamix-lsl; do
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
check "contents: copyright file" has /usr/share/doc/tamix/copyright
check "contents: changelog" has /usr/share/doc/tamix/changelog.gz
if built tamix; then
  check "contents: MIME type of recordings" has /usr/share/mime/packages/tamix.xml
fi
# Every file and folder belongs to root, folders and programs are 0755 and
# everything else 0644 (what Debian policy asks of a package's files).
modes_as_policy_asks() {
  dpkg-deb --contents "$1" | awk '
    $2 != "root/root" { print; bad = 1 }
    $1 ~ /^d/ && $1 != "drwxr-xr-x" { print; bad = 1 }
    $1 ~ /^-/ && $1 != "-rw-r--r--" && $1 != "-rwxr-xr-x" { print; bad = 1 }
    $1 == "-rwxr-xr-x" && $NF !~ /^\.\/usr\/bin\// { print; bad = 1 }
    END { exit bad }'
}
check "owners root/root, modes 0755 for folders and programs, 0644 for the rest" \
  modes_as_policy_asks "$DEB"

# Errors fail; warnings and notes (informational tags) are listed so that a
# new one is seen. Run as root, lintian says so on standard error: not a tag.
lintian --info --display-info --no-tag-display-limit "$DEB" >"$SCRATCH/lintian" 2>"$SCRATCH/lintian.err"
lintian_status=$?
errors="$(grep -c '^E: ' "$SCRATCH/lintian")"
if [ "$errors" -eq 0 ] && [ "$lintian_status" -eq 0 ]; then
  pass "lintian: no errors ($(grep -c '^W: ' "$SCRATCH/lintian") warning(s), $(grep -c '^I: ' "$SCRATCH/lintian") note(s))"
else
  fail "lintian: $errors error(s), status $lintian_status"
  grep -v '^N: ' "$SCRATCH/lintian" | sed 's/^/    /'
  sed 's/^/    /' "$SCRATCH/lintian.err" | tail -n 5
fi
grep -E '^(W|I|P): ' "$SCRATCH/lintian" | sed 's/^/    lintian /'

ROOT="$SCRATCH/root"
check "dpkg-deb -x into a scratch root" dpkg-deb -x "$DEB" "$ROOT"

for program in "$ROOT"/usr/bin/*; do
  name="$(basename "$program")"
  check "$name is stripped" sh -c 'file -b "$1" | grep -q ", stripped"' sh "$program"
  # PIE, stack protector, fortified functions, read-only relocations, bind now.
  # Not control-flow protection: Debian 12's own start-up objects (crt1.o,
  # crti.o) lack its marker, so no program linked here can carry it.
  check "hardening-check $name" hardening-check --quiet --nocfprotection "$program"
done

check "copyright file is machine-readable (DEP-5)" sh -c '
  head -n 1 "$1" | grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" &&
  grep -q "^Files: \*" "$1" && grep -q "^License: " "$1"' sh "$ROOT/usr/share/doc/tamix/copyright"
# gzip -n: no file name (flag byte 0) and no time stamp (four zero bytes).
changelog_is_current() { # changelog_is_current FILE.gz VERSION
  gzip -t "$1" &&
    [ "$(od -An -tu1 -j3 -N1 "$1" | tr -d ' ')" = 0 ] &&
    [ "$(od -An -tu4 -j4 -N4 "$1" | tr -d ' ')" = 0 ] &&
    gzip -dc "$1" >"$SCRATCH/changelog" &&
    [ "$(dpkg-parsechangelog -l "$SCRATCH/changelog" -S Version)" = "$2" ]
}
check "changelog is gzip -9n and its latest entry is version $(field Version)" \
  changelog_is_current "$ROOT/usr/share/doc/tamix/changelog.gz" "$(field Version)"
if built tamix; then
  check "desktop-file-validate on the installed entry" \
    desktop-file-validate "$ROOT/usr/share/applications/tamix.desktop"
  check "appstreamcli validate --no-net on the installed metainfo" \
    appstreamcli validate --no-net "$ROOT/usr/share/metainfo/io.github.tamix.Tamix.metainfo.xml"
  check "the desktop entry opens application/x-windaq" \
    grep -qx "MimeType=application/x-windaq;" "$ROOT/usr/share/applications/tamix.desktop"
  # What shared-mime-info's and desktop-file-utils' triggers do on installation,
  # done to the scratch root: a .wdq file is then of the type, and the type's
  # application is Tamix.
  check "update-mime-database: *.wdq is application/x-windaq" sh -c '
    update-mime-database "$1/usr/share/mime" &&
    grep -qx "application/x-windaq:\*.wdq" "$1/usr/share/mime/globs" &&
    ! grep -q "x-windaq:\*\.dat" "$1/usr/share/mime/globs"' sh "$ROOT"
  check "update-desktop-database: Tamix opens application/x-windaq" sh -c '
    update-desktop-database "$1/usr/share/applications" &&
    grep -qx "application/x-windaq=tamix.desktop;" "$1/usr/share/applications/mimeinfo.cache"' \
    sh "$ROOT"
  check "gio: a file named run.wdq is application/x-windaq, and Tamix opens it" sh -c '
    printf "#\\000\\334\\005" >"$2/run.wdq" &&
    XDG_DATA_DIRS="$1/usr/share" XDG_DATA_HOME="$2/none" \
      gio info -a standard::content-type "$2/run.wdq" | grep -q "application/x-windaq" &&
    PATH="$1/usr/bin:$PATH" XDG_DATA_DIRS="$1/usr/share" XDG_DATA_HOME="$2/none" \
      gio mime application/x-windaq | grep -q "^Default application.*: tamix.desktop"' \
    sh "$ROOT" "$SCRATCH"
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
if built tamix-lsl; then
  check "packaged tamix-lsl --help" "$ROOT/usr/bin/tamix-lsl" --help
fi

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

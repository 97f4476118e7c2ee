#!/bin/sh
# Installs what is needed, builds with warnings as errors and runs every test:
# unit and end-to-end tests, the GUI tests under Xvfb, clang-tidy over src/ and
# tools/, the Debian package, a build with clang++, the unit tests again under
# ThreadSanitizer, and the Windows programs' tests under Wine.
set -eu
cd "$(dirname "$0")/.."
begin=$(date +%s)
stage() { echo "== $* ($(( $(date +%s) - begin )) s in)"; }
stage "installing what is needed"
scripts/install-deps.sh
stage "building"
scripts/build.sh -DTAMIX_WERROR=ON
stage "unit and end-to-end tests"
(cd build && ctest --output-on-failure -j2 -LE gui)
stage "GUI tests"
(cd build && ctest --output-on-failure -L gui)

stage "clang-tidy"
scripts/tidy.sh build

# The Debian package: built, checked, extracted and its tamix-record run.
stage "the Debian package"
scripts/check-package.sh build

stage "clang++"
CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DTAMIX_WERROR=ON \
  -DTAMIX_BUILD_BENCH=OFF >/dev/null
cmake --build build-clang -j"$(nproc)" >/dev/null
echo "clang++: the tree builds without warnings"

stage "ThreadSanitizer"
cmake -S . -B build-tsan -DTAMIX_SANITIZE=thread -DTAMIX_BUILD_GUI=OFF -DTAMIX_BUILD_BENCH=OFF \
  -DTAMIX_WERROR=ON >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tamix_unit_tests tamix-record tamix-sim tamix-file
log=build-tsan/tsan.log
# A limit, so that a test that hangs under the sanitizer fails the run in
# time instead of using up the whole of it.
if TSAN_OPTIONS="halt_on_error=1" timeout 1800 build-tsan/tests/tamix_unit_tests >"$log" 2>&1; then
  echo "ThreadSanitizer: no reports"
elif grep -q "unexpected memory mapping" "$log"; then
  # Some kernels randomise mappings beyond what this TSan runtime supports.
  echo "ThreadSanitizer cannot run on this kernel; skipped" >&2
else
  tail -n 80 "$log"
  exit 1
fi

# The Windows programs, cross-built and run under Wine (no GUI: see scripts/build-windows.sh).
stage "Windows"
scripts/test-windows.sh build
stage "all tests passed"

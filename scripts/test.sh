#!/bin/sh
# Installs what is needed, builds and runs every test: unit and end-to-end tests,
# the GUI tests under Xvfb, and the unit tests again under ThreadSanitizer.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
(cd build && ctest --output-on-failure -j2 -LE gui && ctest --output-on-failure -L gui)

cmake -S . -B build-tsan -DTAMIX_SANITIZE=thread -DTAMIX_BUILD_GUI=OFF -DTAMIX_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tamix_unit_tests tamix-record tamix-sim
log=build-tsan/tsan.log
if TSAN_OPTIONS="halt_on_error=1" build-tsan/tests/tamix_unit_tests >"$log" 2>&1; then
  echo "ThreadSanitizer: no reports"
elif grep -q "unexpected memory mapping" "$log"; then
  # Some kernels randomise mappings beyond what this TSan runtime supports.
  echo "ThreadSanitizer cannot run on this kernel; skipped" >&2
else
  tail -n 80 "$log"
  exit 1
fi

#!/bin/sh
# Installs what is needed, builds and runs every test (the GUI tests under Xvfb).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
cd build
ctest --output-on-failure -j2 -LE gui
ctest --output-on-failure -L gui

#!/bin/sh
# Configures and builds Tamix into ./build (extra arguments go to CMake).
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"

#!/bin/sh
# Installs what is needed, builds and starts Tamix with a simulated instrument
# (a KPR-T310) attached. Extra arguments go to the program.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -x build/src/app/tamix ]; then
  exec build/src/app/tamix --simulate A30008SN "$@"
fi
echo "The desktop program was not built; recording 10 s from a simulated unit instead." >&2
exec build/tools/tamix-record --simulate A30008SN --time 10 "${TMPDIR:-/tmp}/tamix-demo.wdq" "$@"

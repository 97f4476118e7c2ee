#!/bin/sh
# tamix-file export to CSV in MB/s of WinDaq input, against a plain cat of the
# same file. Usage: bench/export_throughput.sh [BUILD_DIR] [MiB]
set -eu
BUILD=${1:-build}
MIB=${2:-256}
TOOL="$BUILD/tools/tamix-file"
DIR=$(mktemp -d "${TMPDIR:-/tmp}/tamix-export-bench-XXXXXX")
trap 'rm -rf "$DIR"' EXIT
# Eight channels of a repeating ramp; the header as the recorder writes it.
python3 - "$DIR/run.wdq" "$MIB" <<'PY'
import struct, sys
path, mib = sys.argv[1], int(sys.argv[2])
n, scans = 8, mib * 1024 * 1024 // 16
h = bytearray(1156)
struct.pack_into("<HHBBHI", h, 0, n | 0x20, n * 500, 110, 36, 1156, scans * 2 * n)
struct.pack_into("<d", h, 28, 0.001)
for i in range(n):
    struct.pack_into("<ffdd", h, 110 + 36 * i, 8.0, 0.0, 1 / 819.2, 0.0)
block = b"".join(struct.pack("<h", ((s * 7 + k * 1000) % 60000 - 30000) & ~3)
                 for s in range(4096) for k in range(n))
names = b"".join(b"Chn%d\0" % i for i in range(n))
events = struct.pack("<III", 0, 0, 0x80000000 | len(names))
struct.pack_into("<IH", h, 12, len(events), len(names))
with open(path, "wb") as f:
    f.write(h)
    for _ in range(scans // 4096):
        f.write(block)
    f.write(events + names + b"Acquisition start\0")
PY
SIZE=$(stat -c %s "$DIR/run.wdq")
cat "$DIR/run.wdq" > /dev/null  # into the page cache for both runs
now() { date +%s.%N; }
t0=$(now); cat "$DIR/run.wdq" > "$DIR/copy.wdq"; t1=$(now)
"$TOOL" export "$DIR/run.wdq" "$DIR/out.csv" 2>/dev/null; t2=$(now)
awk -v s="$SIZE" -v a="$t0" -v b="$t1" -v c="$t2" -v o="$(stat -c %s "$DIR/out.csv")" 'BEGIN {
  printf "input %.0f MB\ncat:             %8.1f MB/s\n", s / 1e6, s / 1e6 / (b - a)
  printf "export to CSV:   %8.1f MB/s of input (%.0f MB of CSV, %.1f s)\n", s / 1e6 / (c - b), o / 1e6, c - b }'

#!/bin/bash
# What a review window that follows a recording costs the recorder: CPU
# seconds (user + system) and exit status of a paced 8-channel, 1 kHz
# tamix-record run, alone and with the desktop program reviewing its file
# from the first second on (under Xvfb, the view kept at the live end).
# Rounds are interleaved so that a busy neighbour on the machine hits both
# alike. Exit status 5 would mean a gap: scans lost before they reached the
# computer.
#
#   bench/follow_cost.sh [BUILD_DIR] [ROUNDS] [SECONDS]
set -euo pipefail

BUILD=${1:-build}
ROUNDS=${2:-3}
SECONDS_RUN=${3:-20}
RECORD="$BUILD/tools/tamix-record"
TAMIX="$BUILD/src/app/tamix"
for tool in "$RECORD" "$TAMIX"; do
  [ -x "$tool" ] || { echo "follow_cost: $tool is missing; build first" >&2; exit 2; }
done
command -v Xvfb >/dev/null || { echo "follow_cost: Xvfb is missing (scripts/install-deps.sh)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/tamix-follow.XXXXXX)
XVFB_PID=""
cleanup() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

DISPLAY_NUMBER=$((90 + RANDOM % 100))
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME"

RESULTS="$WORK/results"
: >"$RESULTS"

# One run: "KIND CPU_SECONDS EXIT_STATUS FOLLOWER_CPU_SECONDS".
run() {
  local kind=$1 out="$WORK/$1.$2.wdq"
  python3 - "$kind" "$out" "$SECONDS_RUN" "$RECORD" "$TAMIX" >>"$RESULTS" <<'PY'
import os, signal, subprocess, sys, time
kind, out, seconds, record, tamix = sys.argv[1:]
argv = [record, "--quiet", "--simulate", "KPR-44B", "--inputs", "1,2,3,4,A,B,C,D",
        "--time", seconds, out]
pid = os.posix_spawnp(argv[0], argv, os.environ)
follower = None
if kind == "follower":
    # The file takes its name at the run's first checkpoint.
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and (not os.path.exists(out) or os.path.getsize(out) <= 1156):
        time.sleep(0.05)
    follower = subprocess.Popen([tamix, out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
_, status, ru = os.wait4(pid, 0)
follower_cpu = 0.0
if follower:
    time.sleep(1.0)  # the window reads the completed file too
    follower.send_signal(signal.SIGTERM)
    _, _, fru = os.wait4(follower.pid, 0)
    follower_cpu = fru.ru_utime + fru.ru_stime
print(f"{kind} {ru.ru_utime + ru.ru_stime:.4f} {os.waitstatus_to_exitcode(status)} {follower_cpu:.3f}")
PY
  rm -f "$out"
}

for round in $(seq 1 "$ROUNDS"); do
  run alone "$round"
  run follower "$round"
done

python3 - "$RESULTS" "$SECONDS_RUN" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
seconds = float(sys.argv[2])
for kind in ("alone", "follower"):
    mine = [r for r in rows if r[0] == kind]
    cpu = [float(r[1]) for r in mine]
    codes = sorted({r[2] for r in mine})
    extra = ""
    if kind == "follower":
        extra = f", the review window itself {statistics.median(float(r[3]) for r in mine):.2f} s"
    print(f"{kind:9s} recorder CPU median {statistics.median(cpu):.3f} s "
          f"(min {min(cpu):.3f}, max {max(cpu):.3f}) over {seconds:.0f} s runs, "
          f"exit status {','.join(codes)}{extra}")
alone = statistics.median(float(r[1]) for r in rows if r[0] == "alone")
follow = statistics.median(float(r[1]) for r in rows if r[0] == "follower")
print(f"with a follower: {100 * (follow - alone) / alone:+.1f} % recorder CPU")
PY

#!/bin/bash
# What a paced recording costs the machine: CPU seconds (user + system) and
# context switches of a 10 s, 8-channel, 1 kHz recording by tamix-record from
# an in-process simulated unit and from tamix-sim on a pseudo-terminal, beside
# sigrok-cli's demo driver writing CSV at the same rate. Rounds are interleaved
# so that a busy neighbour on the machine hits every program alike.
#
#   bench/paced_cost.sh [BUILD_DIR] [ROUNDS] [SECONDS]
set -euo pipefail

BUILD=${1:-build}
ROUNDS=${2:-3}
SECONDS_RUN=${3:-10}
RECORD="$BUILD/tools/tamix-record"
SIM="$BUILD/tools/tamix-sim"
for tool in "$RECORD" "$SIM"; do
  [ -x "$tool" ] || { echo "paced_cost: $tool is missing; build first" >&2; exit 2; }
done

# Debian's sigrok-cli is the yardstick; getrusage of each child (to the
# microsecond, where GNU time rounds to hundredths) measures the runs.
need=""
command -v sigrok-cli >/dev/null || need="$need sigrok-cli"
command -v python3 >/dev/null || need="$need python3"
if [ -n "$need" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $need >/dev/null
fi

WORK=$(mktemp -d /tmp/tamix-paced.XXXXXX)
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill -INT "$SIM_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

RESULTS="$WORK/results"
: >"$RESULTS"
MILLIS=$((SECONDS_RUN * 1000))
INPUTS=1,2,3,4,A,B,C,D

# Appends "NAME CPU_SECONDS CONTEXT_SWITCHES WALL_SECONDS" for one timed command.
timed() {
  local name=$1
  shift
  python3 - "$name" "$@" >>"$RESULTS" <<'PY'
import os, sys, time
name, argv = sys.argv[1], sys.argv[2:]
start = time.monotonic()
# Spawned, not forked: a forked Python child's copy-on-write page faults before
# its exec would be charged to the program (about 8 ms a run on this machine).
pid = os.posix_spawnp(argv[0], argv, os.environ)
_, status, ru = os.wait4(pid, 0)
wall = time.monotonic() - start
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit(f"paced_cost: {argv[0]} failed")
print(f"{name} {ru.ru_utime + ru.ru_stime:.4f} {ru.ru_nvcsw + ru.ru_nivcsw} {wall:.2f}")
PY
}

# Nanoseconds on a CPU (all threads) and context switches of a running process.
proc_cost() {
  local pid=$1
  local ns switches
  ns=$(cat /proc/"$pid"/task/*/schedstat | awk '{ s += $1 } END { printf "%d", s }')
  switches=$(cat /proc/"$pid"/task/*/status | awk '/ctxt_switches/ { s += $2 } END { print s }')
  echo "$ns $switches"
}

run_simulated() {
  timed tamix-record:simulated "$RECORD" --quiet --profile "$WORK/p.INI" --simulate KPR-44B \
    --inputs "$INPUTS" --time "$SECONDS_RUN" "$WORK/sim.wdq" </dev/null
}

run_pty() {
  "$SIM" --unit KPR-44B >"$WORK/port.$ROUND" &
  SIM_PID=$!
  local waited=0
  until grep -q = "$WORK/port.$ROUND" 2>/dev/null; do
    sleep 0.05
    waited=$((waited + 1))
    [ $waited -lt 100 ] || { echo "paced_cost: tamix-sim printed no port" >&2; exit 1; }
  done
  local port
  port=$(head -n 1 "$WORK/port.$ROUND")
  local before after start end
  before=$(proc_cost "$SIM_PID")
  start=$(date +%s.%N)
  timed tamix-record:pty "$RECORD" --quiet --profile "$WORK/p.INI" --port "$port" \
    --inputs "$INPUTS" --time "$SECONDS_RUN" "$WORK/pty.wdq" </dev/null
  after=$(proc_cost "$SIM_PID")
  end=$(date +%s.%N)
  kill -INT "$SIM_PID"
  wait "$SIM_PID" || true
  SIM_PID=""
  echo "$before $after $start $end" |
    awk '{ printf "tamix-sim %.4f %d %.2f\n", ($3 - $1) / 1e9, $4 - $2, $6 - $5 }' >>"$RESULTS"
}

run_sigrok() {
  timed sigrok-cli sigrok-cli -d demo:analog_channels=8:logic_channels=0 --config samplerate=1000 \
    --time "$MILLIS" -O csv -o "$WORK/sigrok.csv"
}

for ROUND in $(seq 1 "$ROUNDS"); do
  echo "round $ROUND of $ROUNDS" >&2
  run_simulated
  run_pty
  run_sigrok
done

echo
echo "Paced ${SECONDS_RUN} s recordings, 8 channels at 1 kHz, $ROUNDS rounds (CPU = user + system)"
printf "%-26s %10s %10s %12s %12s %12s\n" program "CPU min" "CPU med" "switch min" "switch med" "switch/s med"
for name in tamix-record:simulated tamix-record:pty tamix-sim sigrok-cli; do
  awk -v n="$name" '$1 == n { print $2, $3, $4 }' "$RESULTS" | sort -n >"$WORK/cpu"
  awk -v n="$name" '$1 == n { print $3, $4 }' "$RESULTS" | sort -n >"$WORK/sw"
  awk -v n="$name" '{ c[NR] = $1 } END { printf "%-26s %10.4f %10.4f", n, c[1], c[int((NR + 1) / 2)] }' "$WORK/cpu"
  awk '{ s[NR] = $1; w[NR] = $2 } END { m = int((NR + 1) / 2); printf " %12d %12d %12.0f\n", s[1], s[m], s[m] / w[m] }' "$WORK/sw"
done
SIGROK_MED=$(awk '$1 == "sigrok-cli" { print $2 }' "$RESULTS" | sort -n | awk '{ c[NR] = $1 } END { print c[int((NR + 1) / 2)] }')
echo
for name in tamix-record:simulated tamix-record:pty; do
  awk -v n="$name" -v s="$SIGROK_MED" '$1 == n { print $2 }' "$RESULTS" | sort -n |
    awk -v n="$name" -v s="$SIGROK_MED" '{ c[NR] = $1 } END { m = c[int((NR + 1) / 2)]; printf "%s / sigrok-cli CPU (medians): %.2f\n", n, (s > 0 ? m / s : 0) }'
done
awk '$1 == "tamix-sim" { printf "%.3f\n", 100 * $2 / $4 }' "$RESULTS" | sort -n |
  awk '{ c[NR] = $1 } END { printf "tamix-sim share of one core: min %.2f %%, median %.2f %%\n", c[1], c[int((NR + 1) / 2)] }'

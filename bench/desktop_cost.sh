#!/bin/bash
# What the desktop program costs during a run: the real tamix on a throw-away
# profile with a simulated unit, eight inputs on screen, started through its
# menu with the keyboard under Xvfb; CPU seconds (user + system, all threads,
# from /proc/PID/stat) and context switches (all threads) over SECONDS of the
# run, after a short settling time. Each round uses a fresh display and profile.
# A small window manager runs on the display as on a desktop: without one, GTK
# asks the X server on every frame whether one has appeared.
#
#   bench/desktop_cost.sh [BUILD_DIR] [ROUNDS] [SECONDS] [UNIT]
#
# UNIT is the simulated unit's serial or model (default A60089Rz, a TIRQEL at
# 1000 scans per second, the fastest model).
set -euo pipefail

BUILD=${1:-build}
ROUNDS=${2:-3}
SECONDS_RUN=${3:-20}
UNIT=${4:-A60089Rz}
TAMIX="$BUILD/src/app/tamix"
[ -x "$TAMIX" ] || { echo "desktop_cost: $TAMIX is missing; build first" >&2; exit 2; }

need=""
command -v Xvfb >/dev/null || need="$need xvfb"
command -v xdotool >/dev/null || need="$need xdotool"
command -v evilwm >/dev/null || need="$need evilwm"
command -v xprop >/dev/null || need="$need x11-utils"
if [ -n "$need" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $need >/dev/null
fi

TICKS=$(getconf CLK_TCK)
WORK=$(mktemp -d /tmp/tamix-desktop.XXXXXX)
XVFB_PID=""
WM_PID=""
APP_PID=""
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command after it to succeed.
poll() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# CPU clock ticks of the whole process (utime + stime; the name may hold blanks).
cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat")
  stat=${stat##*) }
  # shellcheck disable=SC2086
  set -- $stat
  echo $((${12} + ${13}))
}

# Context switches (voluntary and not) of all of the process's threads.
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'
}

window() { xdotool search --onlyvisible --name "$1" | head -1; }
has_window() { [ -n "$(window "$1")" ]; }
no_window() { [ -z "$(window "$1")" ]; }

# Presses keys in the window whose title matches $1.
keys() {
  local id
  id=$(window "$1")
  [ -n "$id" ] || { echo "desktop_cost: no window '$1'" >&2; return 1; }
  xdotool windowfocus --sync "$id"
  shift
  xdotool key --clearmodifiers "$@"
}

RESULTS="$WORK/results"
: >"$RESULTS"
for round in $(seq 1 "$ROUNDS"); do
  dir="$WORK/round$round"
  mkdir -p "$dir"
  {
    printf '[Options]\n'
    for i in 1 2 3 4 5 6 7 8; do printf 'chn%d=1\n' "$i"; done
    printf 'time=60\ntime unit=0\n[System setup]\nchn8=1\n'
  } >"$dir/tamix.INI"
  exec 3>"$dir/display"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  XVFB_PID=$!
  exec 3>&-
  poll 10 test -s "$dir/display" || { echo "desktop_cost: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -1 "$dir/display")"
  # "fixed" is built into every X server.
  evilwm -fn fixed >"$dir/wm.log" 2>&1 &
  WM_PID=$!
  poll 10 bash -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" ||
    { echo "desktop_cost: the window manager did not start" >&2; exit 1; }
  "$TAMIX" --simulate "$UNIT" --profile "$dir/tamix.INI" >"$dir/tamix.log" 2>&1 &
  APP_PID=$!
  main=" - Tamix Windows Application$"
  box="^Tamix Windows Application$"
  poll 20 has_window "$main" || { echo "desktop_cost: no main window" >&2; exit 1; }
  # Measurement > Start, OK in the options dialog, OK on the screen-only notice.
  keys "$main" alt+m s
  poll 10 has_window "^Measurement Options$" || { echo "desktop_cost: no options" >&2; exit 1; }
  keys "^Measurement Options$" Return
  poll 10 has_window "$box" || { echo "desktop_cost: no notice" >&2; exit 1; }
  keys "$box" Return
  poll 10 no_window "$box" || { echo "desktop_cost: notice stays" >&2; exit 1; }
  sleep 2
  c0=$(cpu_ticks "$APP_PID")
  s0=$(switches "$APP_PID")
  t0=$(date +%s.%N)
  sleep "$SECONDS_RUN"
  c1=$(cpu_ticks "$APP_PID")
  s1=$(switches "$APP_PID")
  t1=$(date +%s.%N)
  threads=$(ls "/proc/$APP_PID/task" | wc -l)
  # Measurement > Stop (a screen-only run asks nothing), then File > Exit.
  keys "$main" alt+m t
  sleep 1
  keys "$main" alt+f x
  poll 20 bash -c "! kill -0 $APP_PID" || { echo "desktop_cost: tamix did not quit" >&2; exit 1; }
  wait "$APP_PID" || true
  APP_PID=""
  kill "$WM_PID" 2>/dev/null || true
  wait "$WM_PID" 2>/dev/null || true
  WM_PID=""
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=""
  awk -v c="$((c1 - c0))" -v s="$((s1 - s0))" -v t0="$t0" -v t1="$t1" -v hz="$TICKS" \
    -v n="$threads" 'BEGIN {
      wall = t1 - t0; cpu = c / hz
      printf "%.2f %.2f %d %.1f %d\n", cpu, 100 * cpu / wall, s, s / wall, n }' >>"$RESULTS"
  echo "round $round: $(tail -1 "$RESULTS" |
    awk '{ printf "%.2f s CPU (%.2f %% of a core), %d switches (%.0f/s), %d threads", $1, $2, $3, $4, $5 }')"
done

summary() {
  sort -n -k"$1" "$RESULTS" | awk -v k="$1" -v label="$2" -v fmt="$3" '
    { v[NR] = $k }
    END { med = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%-28s min " fmt "  median " fmt "\n", label, v[1], med }'
}
echo "desktop program, $UNIT, 8 inputs on screen, ${SECONDS_RUN} s of a run, $ROUNDS rounds:"
summary 1 "CPU seconds" "%.2f"
summary 2 "share of one core (%)" "%.2f"
summary 4 "context switches per second" "%.0f"

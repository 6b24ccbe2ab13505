#!/usr/bin/env bash
# Starts the demo again and again with a saved patch pool, each time on a virtual X server of its own, and
# prints each run's meter: lets it run ten seconds from its start (the unit read, the pool loaded and
# marked; at eight seconds the effect update notice is closed with its OK), then switches to the patch
# screen once with a click of the pointer as a user would, waits for the switch to settle and ends it with
# SIGTERM, as a desktop would. Action 1 is the OK, action 2 the first switch.
#
#   bench/measure-demo.sh DEMO [RUNS] [PATCHES]
#
# DEMO is the optimised demo (see bench/README.md); RUNS defaults to 20 and PATCHES to 10,000. Each run's
# lines start with its number; the load average before each run is printed with it.
set -uo pipefail
cd "$(dirname "$0")/.."
demo=${1:?the demo program}
runs=${2:-20}
patches=${3:-10000}
command -v xdotool >/dev/null || { echo "measure-demo: xdotool is needed (apt-get install -y xdotool)" >&2; exit 1; }

run_once() {
  local out err
  out=$(mktemp) err=$(mktemp)
  "$demo" --pool "$patches" --measure >"$out" 2>"$err" &
  local pid=$!
  local begun=$SECONDS
  local window=""
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name '^PEXO Rigmora$' 2>/dev/null | tail -n 1)
    [ -n "$window" ] && grep -q "the main window shows" "$out" && break
    sleep 0.05
  done
  if [ -n "$window" ]; then
    # In the window's own coordinates (it is 1500 points square): the OK of the effect update notice
    # that a fresh demo folder shows, then the patch screen's switch in the header.
    while [ $((SECONDS - begun)) -lt 8 ]; do sleep 0.1; done
    xdotool mousemove --window "$window" 894 815 click 1
    while [ $((SECONDS - begun)) -lt 10 ]; do sleep 0.1; done
    xdotool mousemove --window "$window" 257 117 click 1
  fi
  sleep 2.5
  kill -TERM "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  grep '^demo: \(action\|before\|first window\)' "$err"
  rm -f "$out" "$err"
}

for run in $(seq "$runs"); do
  echo "run $run: load $(cut -d' ' -f1-3 /proc/loadavg)"
  scripts/with-display.sh bash -c "$(declare -f run_once); demo='$demo' patches='$patches' run_once" | sed "s/^/run $run: /"
done

#!/usr/bin/env bash
# Starts the demo, waits until it tells the moment asked for, sends it a termination signal and expects it
# to end within a few seconds through its termination routine: status 0, its folder gone and, when a unit
# was connected, the unit let go. Needs a display (run it under scripts/with-display.sh).
#
#   demo_ends_on_signal.sh DEMO SIGNAL "MOMENT" [DEMO OPTIONS...]
set -uo pipefail
demo=$1 signal=$2 moment=$3
shift 3
log=$(mktemp)
trap 'rm -f "$log"' EXIT

"$demo" "$@" >"$log" 2>&1 &
pid=$!
fail() {
  echo "FAIL: $*"
  cat "$log"
  kill -KILL "$pid" 2>/dev/null
  exit 1
}

for _ in $(seq 600); do
  grep -q "^demo: $moment\$" "$log" && break
  kill -0 "$pid" 2>/dev/null || fail "the demo ended before \"$moment\""
  sleep 0.1
done
grep -q "^demo: $moment\$" "$log" || fail "\"$moment\" never came"
kill -s "$signal" "$pid"
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "still running 10 s after SIG$signal at \"$moment\""
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "ended with status $status"
grep -q "^demo: ended with status 0" "$log" || fail "did not end through its termination routine"
grep -q "^demo: the unit was never let go" "$log" && fail "the unit was not let go"
folder=$(sed -n 's|^demo: data folder \(.*\)/data/.*|\1|p' "$log")
[ -n "$folder" ] && [ -e "$folder" ] && fail "left its folder $folder behind"
echo "ended on SIG$signal at \"$moment\""
cat "$log"

#!/usr/bin/env bash
# Starts the demo again and again, each time until the unit's patches have been read and the header shows
# the unit's picture: a race between the picture's arrival and the header shows up as a start that
# never gets its picture. Needs a display (run it under scripts/with-display.sh).
#
#   demo_starts.sh DEMO TIMES
set -uo pipefail
demo=$1 times=$2
picture=$(mktemp --suffix=.png)
log=$(mktemp)
trap 'rm -f "$picture" "$log"' EXIT
failed=0
for start in $(seq "$times"); do
  if ! "$demo" --screenshot "$picture" --when patches --time-limit 30 >"$log" 2>&1; then
    echo "start $start:"
    cat "$log"
    failed=$((failed + 1))
  fi
done
echo "$failed of $times starts went wrong"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Without a display the program and the demo say in one line that they need a graphical session, end with
# status 1 (not a crash) and leave nothing behind.
#
#   without_display.sh PROGRAM DEMO
set -uo pipefail
program=$1 demo=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# NAME EXPECTED-TEXT COMMAND...: status 1, one line on standard error holding the text.
expect() {
  local name=$1 text=$2
  shift 2
  "$@" >"$scratch/out" 2>"$scratch/err"
  local status=$?
  if [ "$status" -ne 1 ] || [ "$(wc -l <"$scratch/err")" -ne 1 ] || ! grep -qF "$text" "$scratch/err"; then
    echo "FAIL $name: status $status, standard error:"
    cat "$scratch/err"
    failed=1
  else
    echo "ok $name: $(cat "$scratch/err")"
  fi
}

bare=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$scratch/home" XDG_DATA_HOME="$scratch/data"
      XDG_RUNTIME_DIR="$scratch/runtime")
mkdir -p "$scratch/home" "$scratch/runtime"
expect program "neither DISPLAY nor WAYLAND_DISPLAY is set" "${bare[@]}" "$program"
expect demo "neither DISPLAY nor WAYLAND_DISPLAY is set" "${bare[@]}" "$demo"
# A display that is named but not there.
expect unreachable "the display :4093 cannot be opened" "${bare[@]}" DISPLAY=:4093 "$program"
expect "demo, unreachable" "the display :4093 cannot be opened" "${bare[@]}" DISPLAY=:4093 "$demo"
if [ -n "$(ls -A "$scratch/runtime")" ]; then
  echo "FAIL: the demo left $(ls "$scratch/runtime") behind"
  failed=1
fi
[ ! -e "$scratch/data" ] || { echo "FAIL: the program made its data folder"; failed=1; }
exit "$failed"

#!/usr/bin/env bash
# Runs a command where windows can show: on a virtual X server of its own, so tests that run side by side
# never take each other's focus and nothing shows on the user's desktop; on the session's display only
# when no virtual server can be had. The server picks a free display number itself, so any number of
# these can start at once.
set -uo pipefail
if ! command -v Xvfb >/dev/null; then
  if [ -n "${DISPLAY:-}" ]; then exec "$@"; fi
  echo "with-display: no Xvfb (scripts/setup.sh installs it) and no DISPLAY" >&2
  exit 1
fi

ready=$(mktemp)
# Room for the main window at its full size, a sheet over it and the splash. Only this user's processes
# reach it: no TCP, and the socket lives as long as the command.
Xvfb -displayfd 3 -screen 0 1920x1600x24 -nolisten tcp -ac 3>"$ready" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 100); do
  [ -s "$ready" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
number=$(head -n 1 "$ready")
if [ -z "$number" ]; then
  echo "with-display: the virtual X server did not start" >&2
  exit 1
fi
DISPLAY=":$number" "$@"

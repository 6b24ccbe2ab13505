#!/usr/bin/env bash
# Runs a command where windows can show: on the session's display when there is one, else on a virtual X
# server of its own (xvfb-run), so the tests that look at the screens run on a machine without one too.
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
if ! command -v xvfb-run >/dev/null; then
  echo "with-display: no DISPLAY and no xvfb-run (scripts/setup.sh installs it)" >&2
  exit 1
fi
# Room for the main window at its full size, a sheet over it and the splash.
exec xvfb-run -a -s "-screen 0 1920x1600x24 -nolisten tcp" "$@"

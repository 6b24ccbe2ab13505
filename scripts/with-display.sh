#!/usr/bin/env bash
# Runs a command where windows can show: on a virtual X server of its own (xvfb-run), so tests that run
# side by side never take each other's focus and nothing shows on the user's desktop; on the session's
# display only when there is no virtual server to be had.
set -euo pipefail
if command -v xvfb-run >/dev/null; then
  # Room for the main window at its full size, a sheet over it and the splash.
  exec xvfb-run -a -s "-screen 0 1920x1600x24 -nolisten tcp" "$@"
fi
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
echo "with-display: no xvfb-run (scripts/setup.sh installs it) and no DISPLAY" >&2
exit 1

#!/usr/bin/env bash
# Sets up, builds and runs every test of the default build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
# The tests that show windows run on a display (a virtual one when the machine has none) and fail
# rather than skip without it, so a screen that breaks fails here.
export RIG_REQUIRE_DISPLAY=1
scripts/with-display.sh ctest --preset default

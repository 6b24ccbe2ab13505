#!/usr/bin/env bash
# Builds the clang tree with the thread sanitizer and runs its tests: every test below the interface, and
# the program end to end (the integration tier; the screens' own tests are not built there).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Races inside uninstrumented third-party libraries are suppressed (each entry says why); any report
# in our own code fails its test.
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan

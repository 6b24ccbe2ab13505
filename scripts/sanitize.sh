#!/usr/bin/env bash
# Builds the clang tree with address and undefined-behaviour sanitizers and runs its tests: every test,
# the program's and the demo's (its tour, on a virtual display) among them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Leaks inside uninstrumented third-party libraries are suppressed (each entry says why); any report in
# our own code fails its test.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp print_suppressions=0 ${LSAN_OPTIONS:-}"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

#!/usr/bin/env bash
# Builds the clang tree with address and undefined-behaviour sanitizers and runs its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

#!/usr/bin/env bash
# Builds the optimised tree and runs every benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
for bench in build/release/bench/bench_*; do
  [ -x "$bench" ] && "$bench"
done

#!/usr/bin/env bash
# Line and branch coverage of src/ by the default suite: g++'s --coverage on a tree of its own, every test
# of that suite run once, gcovr over the tree. Prints the src/ totals last.
# Usage: scripts/coverage.sh [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}
if ! command -v gcovr >/dev/null; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends gcovr
fi
tree=build/coverage
# The default preset's compiler and build type; only the coverage flags differ. The counters are updated
# atomically: the program's threads run the same lines at once, and plain counters then lose counts (gcov
# reads some as negative).
flags="--coverage -fprofile-update=atomic"
cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
# Without the compiler cache: a cached object would name another tree's note files.
CCACHE_DISABLE=1 cmake --build "$tree" -j"$jobs"
find "$tree" -name '*.gcda' -delete
ctest --test-dir "$tree" -j"$jobs" --timeout 600 --output-on-failure >"$tree/ctest.log" \
  || { tail -n 40 "$tree/ctest.log"; exit 1; }
# Counts from headers are merged across the test programs that include them; a line is covered if any test
# program ran it.
# The per-file table goes to report.txt, so two runs can be compared file by file.
gcovr --root . --filter "$PWD/src/" --object-directory "$tree" -j "$jobs" \
  --print-summary --txt "$tree/report.txt" 2>"$tree/gcovr.log" | tail -n 3

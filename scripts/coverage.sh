#!/usr/bin/env bash
# Line coverage of src/ by the whole test suite: a clang tree with the sanitizers and source-based
# coverage, every test run once, one report over every test program. Prints the src/ total last.
# Usage: scripts/coverage.sh [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-3}
tree=build/coverage
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRIG_SANITIZE=ON -DRIG_BUILD_FUZZ=OFF -DRIG_BUILD_APP=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$tree" -j"$jobs"
rm -rf "$tree/profiles" && mkdir -p "$tree/profiles"
LLVM_PROFILE_FILE="$PWD/$tree/profiles/%p.profraw" ctest --test-dir "$tree" -j"$jobs" --output-on-failure >"$tree/ctest.log" \
  || { tail -n 40 "$tree/ctest.log"; exit 1; }
llvm-profdata-14 merge -sparse "$tree"/profiles/*.profraw -o "$tree/merged.profdata"
programs=()
while IFS= read -r program; do programs+=(-object "$program"); done \
  < <(find "$tree/tests" -type f -executable -name 'test_*' | sort)
llvm-cov-14 report -instr-profile "$tree/merged.profdata" "${programs[@]:1}" \
  -ignore-filename-regex='(^|/)(tests|build|usr)/' "$PWD/src" | tee "$tree/report.txt" | tail -n 1

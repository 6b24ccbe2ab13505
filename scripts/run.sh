#!/usr/bin/env bash
# Sets up, builds and starts the program; with --demo, the demo launcher instead (a simulated unit and a
# local catalogue, in a folder of its own). Every other argument goes to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
target=pexo-rigmora
binary=build/default/src/app/pexo-rigmora
if [[ "${1:-}" == "--demo" ]]; then
  shift
  target=pexo-rigmora-demo
  binary=build/default/tools/demo/pexo-rigmora-demo
fi
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target "$target"
exec "$binary" "$@"

#!/usr/bin/env bash
# Installs what is missing, builds the module and columnarizes a payload with it:
#   scripts/run.sh [payload.json]      (default: examples/rows.json)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)" >/dev/null
PYTHONPATH="$root/build/src/module" pypy3 "$root/scripts/columnarize.py" "${1:-$root/examples/rows.json}"
echo

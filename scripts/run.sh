#!/usr/bin/env bash
# Installs what is missing, builds the module and columnarizes a payload with it:
#   scripts/run.sh [payload.json]      (default: examples/rows.json)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$velmar_root"
"$root/scripts/install-deps.sh" build
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build" -j"$VELMAR_JOBS" --target velmar_codec >/dev/null
pypy3 "$root/scripts/columnarize.py" --build-dir "$root/build" "${1:-$root/examples/rows.json}"

#!/usr/bin/env bash
# Sets up what is missing, builds ZV and runs its main job: `zv demo`, or
# the zv command given as arguments (scripts/run.sh reg tree HKCR\\CLSID).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DZV_BUILD_BENCH=OFF -DZV_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zv_tool zv_sample_server >/dev/null
if [ $# -eq 0 ]; then set -- demo; fi
exec ./build/tools/zv "$@"

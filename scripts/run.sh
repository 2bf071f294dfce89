#!/usr/bin/env bash
# Sets up what is missing, builds ZV and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DZV_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zv_tool
./build/tools/zv info "$@"

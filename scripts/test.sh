#!/usr/bin/env bash
# Sets up what is missing, builds ZV and runs every test: the whole suite on
# the NT family and on the 9x family, the Windows stage, the suite
# under AddressSanitizer + UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and the fuzzers.
#   ZV_TEST_QUICK=1    only the plain build on both families
#   ZV_FUZZ_SECONDS=N  how long each fuzzer runs (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
jobs=$(nproc)

step() { printf '\n==== %s ====\n' "$*"; }

step "build"
cmake -S . -B build >/dev/null
cmake --build build -j"$jobs"

step "tests, NT family"
(cd build && ctest -j"$jobs" --output-on-failure)
step "tests, 9x family"
(cd build && ZV_EMULATE_FAMILY=9x ctest -j"$jobs" --output-on-failure)

[ "${ZV_TEST_QUICK:-0}" = 1 ] && exit 0

step "windows: zv.dll, zv.exe and the tests under Wine"
scripts/test-windows.sh

step "tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DZV_SANITIZE=address,undefined -DZV_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest -j"$jobs" --output-on-failure)

step "tests under ThreadSanitizer"
cmake -S . -B build-tsan -DZV_SANITIZE=thread -DZV_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && ctest -j"$jobs" --output-on-failure)

if [ -f fuzz/CMakeLists.txt ]; then
  step "fuzzers"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DZV_SANITIZE=address,undefined \
    -DZV_BUILD_FUZZ=ON -DZV_BUILD_TESTS=OFF -DZV_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs"
  for fuzzer in build-fuzz/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus=$(mktemp -d)
    cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/" 2>/dev/null || true
    echo "running $name for ${ZV_FUZZ_SECONDS:-60} s"
    "$fuzzer" -max_total_time="${ZV_FUZZ_SECONDS:-60}" -print_final_stats=1 "$corpus" 2>&1 | tail -5
    rm -rf "$corpus"
  done
fi

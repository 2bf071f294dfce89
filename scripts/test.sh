#!/usr/bin/env bash
# Sets up what is missing, builds and runs every test, and ends with one
# verdict line that counts the tests of every stage:
#   test.sh: N passed, M failed
# Stages: the whole suite on the NT family and on the 9x family, the Windows
# stage, the suite under AddressSanitizer + UndefinedBehaviorSanitizer and
# under ThreadSanitizer, and each fuzzer.  Every stage builds in a folder of
# its own with its options given explicitly, so a folder that another script
# configured (scripts/run.sh's build/) never decides what is tested.  A stage
# that fails does not stop the others; the exit status is 1 if any failed.
#   ZV_TEST_QUICK=1    only the plain build on both families
#   ZV_FUZZ_SECONDS=N  how long each fuzzer runs (default 60)
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fuzz_seconds=${ZV_FUZZ_SECONDS:-60}
logs=build-logs
mkdir -p "$logs"
passed=0
failed=0
summary=()

step() { printf '\n==== %s ====\n' "$*"; }

# count STAGE PASSED FAILED
count() {
  passed=$((passed + $2))
  failed=$((failed + $3))
  summary+=("$(printf '  %-40s %6d passed, %d failed' "$1" "$2" "$3")")
}

verdict() {
  step "summary"
  printf '%s\n' "${summary[@]}"
  echo "test.sh: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

# build STAGE DIR CMAKE_OPTIONS...: configures and builds; a failure counts.
build() {
  local stage=$1 dir=$2
  shift 2
  step "build: $stage ($dir)"
  if cmake -S . -B "$dir" "$@" >"$logs/$dir.configure.log" 2>&1 && cmake --build "$dir" -j"$jobs"; then
    return 0
  fi
  tail -20 "$logs/$dir.configure.log"
  count "$stage: build" 0 1
  return 1
}

# run_ctest STAGE DIR [VARIABLE=VALUE...]: the suite, one line per test as
# it finishes; counts from ctest's own summary line.
run_ctest() {
  local stage=$1 dir=$2 log="$logs/$1.log"
  log=${log// /-}
  shift 2
  step "tests: $stage"
  (cd "$dir" && env "$@" ctest -j"$jobs" --no-tests=error --output-on-failure ${exclude:+-E "$exclude"}) 2>&1 | tee "$log"
  local line total bad
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    echo "test.sh: $stage ran no tests"
    count "$stage" 0 1
    return
  fi
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/')
  total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
  count "$stage" $((total - bad)) "$bad"
}

step "packages"
if ! scripts/deps.sh --tests; then
  count "packages" 0 1
  verdict
fi

if build "plain" build-test -DZV_BUILD_TESTS=ON -DZV_BUILD_BENCH=ON -DZV_BUILD_FUZZ=OFF \
     -DZV_SANITIZE= -DCMAKE_INSTALL_LIBDIR=lib/x86_64-linux-gnu; then
  run_ctest "NT family" build-test -u ZV_EMULATE_FAMILY
  run_ctest "9x family" build-test ZV_EMULATE_FAMILY=9x
fi
[ "${ZV_TEST_QUICK:-0}" = 1 ] && verdict

step "windows"
if [ -x scripts/test-windows.sh ]; then
  scripts/test-windows.sh 2>&1 | tee "$logs/windows.log"
  line=$(grep -E '^windows: [0-9]+ passed, [0-9]+ failed' "$logs/windows.log" | tail -1)
  if [ -n "$line" ]; then
    count "windows" "$(echo "$line" | sed -E 's/^windows: ([0-9]+) passed.*/\1/')" \
      "$(echo "$line" | sed -E 's/.* ([0-9]+) failed.*/\1/')"
  else
    count "windows: no verdict" 0 1
  fi
else
  echo "test.sh: scripts/test-windows.sh is missing"
  count "windows" 0 1
fi

if build "AddressSanitizer + UndefinedBehaviorSanitizer" build-asan -DZV_SANITIZE=address,undefined \
     -DZV_BUILD_TESTS=ON -DZV_BUILD_BENCH=OFF -DZV_BUILD_FUZZ=OFF; then
  run_ctest "address+undefined" build-asan
fi

if build "ThreadSanitizer" build-tsan -DZV_SANITIZE=thread -DZV_BUILD_TESTS=ON -DZV_BUILD_BENCH=OFF \
     -DZV_BUILD_FUZZ=OFF; then
  run_ctest "thread" build-tsan
fi

# One line per fuzzer; a line every 15 s while it runs.
if [ -f fuzz/CMakeLists.txt ] &&
   CC=clang CXX=clang++ build "fuzzers" build-fuzz -DZV_SANITIZE=address,undefined -DZV_BUILD_FUZZ=ON \
     -DZV_BUILD_TESTS=OFF -DZV_BUILD_BENCH=OFF; then
  step "fuzzers, $fuzz_seconds s each"
  for fuzzer in build-fuzz/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus=$(mktemp -d)
    cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/" 2>/dev/null || true
    "$fuzzer" -max_total_time="$fuzz_seconds" "$corpus" >"$logs/$name.log" 2>&1 &
    pid=$!
    waited=0
    while kill -0 "$pid" 2>/dev/null; do
      sleep 1
      waited=$((waited + 1))
      [ $((waited % 15)) -eq 0 ] && echo "  $name: running, ${waited} s"
    done
    wait "$pid"
    status=$?
    runs=$(grep -oE 'Done [0-9]+ runs in [0-9]+ second' "$logs/$name.log" | tail -1)
    rm -rf "$corpus"
    if [ "$status" -eq 0 ]; then
      echo "$name: passed (${runs:-no run count})"
      count "fuzzer $name" 1 0
    else
      echo "$name: FAILED with status $status; the finding is in $logs/$name.log:"
      grep -E 'ERROR|SUMMARY|Test unit written' "$logs/$name.log" | head -5
      count "fuzzer $name" 0 1
    fi
  done
fi

verdict

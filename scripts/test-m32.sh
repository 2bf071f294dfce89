#!/usr/bin/env bash
# Builds the library and its test suite for 32-bit x86 Linux (-m32) and runs
# the suite: the 32-bit record layouts and pointer-sized handles on the
# POSIX layer.  The i386 SQLite comes from Debian's own packages, fetched
# with a private apt state (the machine's apt keeps its architectures) and
# unpacked into a build-local sysroot; GoogleTest is built from its sources.
# Ends with one line: m32: N passed, M failed (the tests, or only the build
# where 32-bit programs cannot run).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ZV_M32_BUILD:-$root/build-m32}
jobs=$(nproc)
mkdir -p "$build"
fail() { echo "m32: $*"; echo "m32: 0 passed, 1 failed"; exit 1; }

for package in g++-multilib qemu-user; do
  dpkg-query -W -f='${Status}' $package 2>/dev/null | grep -q "install ok installed" ||
    { scripts/deps.sh --m32 || fail "g++-multilib and qemu-user cannot be installed"; break; }
done

sysroot=$build/sysroot
if [ ! -f "$sysroot/usr/include/sqlite3.h" ]; then
  apt=$build/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  echo "deb [arch=i386 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    >"$apt/sources.list"
  opts=(-o APT::Architecture=i386 -o APT::Architectures::=i386 -o Dir::State::Lists="$apt/lists"
        -o Dir::Cache="$apt/cache" -o Dir::Etc::SourceList="$apt/sources.list"
        -o Dir::Etc::SourceParts=/nonexistent -o Dir::State::status=/dev/null)
  apt-get "${opts[@]}" update -qq >"$build/apt.log" 2>&1 &&
    (cd "$apt" && apt-get "${opts[@]}" download libsqlite3-0 libsqlite3-dev >>"$build/apt.log" 2>&1) ||
    fail "the i386 SQLite packages cannot be fetched (see $build/apt.log)"
  for deb in "$apt"/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
fi

if [ ! -f "$build/gtest/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$build/gtest-build" -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 \
    -DCMAKE_INSTALL_PREFIX="$build/gtest" -DBUILD_GMOCK=ON >"$build/gtest.log" 2>&1 &&
    cmake --build "$build/gtest-build" -j"$jobs" >>"$build/gtest.log" 2>&1 &&
    cmake --install "$build/gtest-build" >>"$build/gtest.log" 2>&1 || fail "GoogleTest -m32 did not build"
fi

lib=$sysroot/usr/lib/i386-linux-gnu
cmake -S . -B "$build/zv" -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DZV_BUILD_BENCH=OFF \
  -DCMAKE_PREFIX_PATH="$build/gtest" -DSQLite3_INCLUDE_DIR="$sysroot/usr/include" \
  -DSQLite3_LIBRARY="$lib/libsqlite3.so" -DCMAKE_BUILD_RPATH="$lib" >"$build/configure.log" 2>&1 &&
  cmake --build "$build/zv" -j"$jobs" >"$build/build.log" 2>&1 || { tail -20 "$build/build.log"; fail "the -m32 build failed"; }
# Some kernels (and sandboxes) run no 32-bit programs: the suite then runs
# under qemu-i386, a user-mode emulator, which also starts the tests' child
# processes (ZVTEST_EMULATOR).  What it cannot emulate is left out, each
# group with its reason:
#   ToolTest, Install, Docs, Valgrind: start 32-bit programs, or link and run
#     host ones against the 32-bit library, through a shell or a host tool;
#   DeathTest: GoogleTest starts the program again by itself;
#   two PlatformThreads tests and PlatformFork: suspension signals to
#     threads, and fork while threads run, which the emulator does not
#     deliver or copy faithfully (the thread crashes, the fork hangs);
#   three SharedEvents tests: another process's liveness is its start time in
#     /proc/PID/stat, which the emulator answers for its own process with
#     made-up fields, so each process takes the others for dead.
emulator=()
exclude=""
if ! "$build/zv/tests/zv_tests_uri" --gtest_list_tests >/dev/null 2>&1; then
  qemu=$(command -v qemu-i386) || {
    echo "m32: built; this machine cannot run 32-bit programs and has no qemu-i386"
    echo "m32: 1 passed, 0 failed"
    exit 0
  }
  cmake "$build/zv" -DCMAKE_CROSSCOMPILING_EMULATOR="$qemu" >>"$build/configure.log" 2>&1
  export ZVTEST_EMULATOR=$qemu
  emulator=(under "$qemu")
  exclude='^ToolTest[.]|^Install[.]|^Docs[.]|Valgrind$|DeathTest[.]|^PlatformFork[.]'
  exclude+='|^PlatformThreads[.](ConcurrentControlStartAndEnd|AnyThreadCanBeSuspended)$'
  exclude+='|^SharedEvents[.](RulesHoldAcrossProcesses|KilledProcessesDoNoHarm|FirstProcessesOfAMachineMeet)$'
fi
(cd "$build/zv" && LD_LIBRARY_PATH="$lib" ctest -j"$jobs" --timeout 600 --output-on-failure ${exclude:+-E "$exclude"}) \
  >"$build/ctest.log" 2>&1
tested=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$build/ctest.log" | tail -1)
failing=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$build/ctest.log" | tail -1)
[ -n "$tested" ] || fail "the -m32 tests did not run to the end (see $build/ctest.log)"
[ "$failing" = 0 ] || grep -E '^\s+[0-9]+ - ' "$build/ctest.log"
[ -z "$exclude" ] || echo "m32: ${emulator[*]}, without the tests it cannot emulate ($exclude)"
echo "m32: $((tested - failing)) passed, $failing failed"
[ "$failing" = 0 ]

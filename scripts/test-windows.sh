#!/usr/bin/env bash
# The Windows stage: builds zv.dll for x86-64 and i686 with MinGW-w64, and
# zv.exe and the Windows test programs; checks both DLLs (exports, aliases,
# imports) and an install tree; runs the tests under Wine, headless, in a
# fresh prefix copied from a template made once.  Ends with one line:
#   windows: N passed, M failed
# Environment: ZV_WINDOWS_BUILD (default build-windows), ZV_WINDOWS_JOBS.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ZV_WINDOWS_BUILD:-$root/build-windows}
jobs=${ZV_WINDOWS_JOBS:-$(nproc)}
mkdir -p "$build"
passed=0 failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "windows: FAILED: $*"; }
step() { printf '\n---- windows: %s (%s) ----\n' "$*" "$(date +%T)"; }
finish() { echo "windows: $passed passed, $failed failed"; exit $((failed > 0)); }

step "packages"
scripts/deps.sh --windows || { fail "installing the MinGW-w64, Wine and Xvfb packages"; finish; }
wine32=0
if ! scripts/deps.sh --wine32 >"$build/wine32.log" 2>&1; then
  echo "windows: 32-bit Wine could not be installed ($(tail -1 "$build/wine32.log")); i686 is built and checked, not run"
elif ! wine --version >"$build/wine32.log" 2>&1; then
  # Installed, yet a kernel without 32-bit support cannot start its loader.
  echo "windows: 32-bit Wine is installed but does not start ($(tail -1 "$build/wine32.log")); i686 is built and checked, not run"
else
  wine32=1
fi

# Configures and builds one architecture: build_arch ARCH TARGET...
build_arch() {
  local arch=$1 dir=$build/$1
  shift
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_BUILD_BENCH=OFF >"$dir.configure.log" 2>&1 &&
    cmake --build "$dir" -j"$jobs" --target "$@" >"$dir.build.log" 2>&1
}

# Both architectures are built whole, also where i686 cannot run: the
# 32-bit compilers catch what the 64-bit ones let pass (calling conventions
# of interface methods, the underscore before C names).
for arch in x86_64 i686; do
  step "build $arch"
  if build_arch "$arch" all; then
    pass
  else
    fail "building $arch (last lines of $build/$arch.build.log follow)"
    tail -20 "$build/$arch.build.log" "$build/$arch.configure.log" 2>/dev/null
    continue
  fi
  step "zv.dll checks $arch"
  if OBJDUMP=$arch-w64-mingw32-objdump scripts/check-dll.sh "$build/$arch/zv.dll" tests/data/exports.txt; then pass
  else fail "zv.dll ($arch) exports or imports"; fi
  # The in-process servers export their entry points by the plain names a
  # host looks up (on i686 a __stdcall export is otherwise NAME@N).
  step "server exports $arch"
  for server in examples/libzv_sample_server.dll:DllCanUnloadNow,DllGetClassObject \
                tests/components/server/libzv_test_server_a.dll:DllGetClassObject,TestServerCounts,TestServerSetDelay; do
    names=$($arch-w64-mingw32-objdump -p "$build/$arch/${server%%:*}" 2>/dev/null |
            sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | paste -sd, -)
    if [ "$names" = "${server#*:}" ]; then pass
    else fail "$(basename "${server%%:*}") ($arch) exports '$names', not '${server#*:}'"; fi
  done
done

step "install tree"
prefix=$build/install
rm -rf "$prefix"
if cmake --install "$build/x86_64" --prefix "$prefix" >/dev/null &&
   [ -f "$prefix/bin/zv.dll" ] && [ -f "$prefix/bin/zv.exe" ] && [ -f "$prefix/lib/libzv.dll.a" ] &&
   [ -f "$prefix/include/zv.h" ] && [ -f "$prefix/lib/cmake/zv/zvConfig.cmake" ]; then
  pass
else
  fail "cmake --install gives bin/zv.dll, bin/zv.exe, lib/libzv.dll.a, include/zv.h, lib/cmake/zv"
fi

# The tests: a template prefix made once, a fresh copy of it for this run,
# so nothing an earlier run left in its registry is seen.
run_tests() {
  local arch=$1 dir=$build/$1
  [ -d "$dir/tests" ] || return 0
  step "tests under Wine, $arch"
  export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  export ZV_WINE=$(sed -n 's/^ZV_WINE:FILEPATH=//p' "$dir/CMakeCache.txt")
  local template=$build/wine-template
  if [ ! -f "$template/system.reg" ]; then
    rm -rf "$template"
    # Through the 64-bit loader: the `wineboot` wrapper takes the 32-bit one
    # whenever wine32 is installed, also where it cannot start.
    WINEPREFIX=$template "$ZV_WINE" wineboot -i >"$build/wineboot.log" 2>&1
    WINEPREFIX=$template wineserver -w
  fi
  if [ ! -f "$template/system.reg" ]; then
    fail "making the template Wine prefix (see $build/wineboot.log)"
    return
  fi
  export WINEPREFIX=$build/wine-run
  rm -rf "$WINEPREFIX"
  cp -a "$template" "$WINEPREFIX"
  wineserver -p 60  # one server for the whole run
  local log=$build/$arch.ctest.log
  # One display for the run; the first program in a fresh prefix starts
  # Wine's desktop, which is slow, so one start comes before the tests.
  (cd "$dir" && timeout 1200 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
     timeout 300 "$ZV_WINE" tests/zv_tests_uri.exe --gtest_list_tests >/dev/null 2>&1
     ctest -j"$1" --timeout 300 --output-on-failure' warm-up "$jobs") >"$log" 2>&1
  wineserver -k 2>/dev/null
  local tested failing
  tested=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  failing=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log" | tail -1)
  if [ -z "$tested" ]; then
    fail "the $arch tests did not run to the end (see $log)"
    tail -30 "$log"
    return
  fi
  passed=$((passed + tested - failing))
  failed=$((failed + failing))
  [ "$failing" = 0 ] || { grep -E '^\s+[0-9]+ - ' "$log"; echo "(output in $log)"; }
  echo "windows: $arch tests: $((tested - failing)) of $tested passed"
}
run_tests x86_64
[ "$wine32" = 1 ] && run_tests i686
finish

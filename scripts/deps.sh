#!/usr/bin/env bash
# Installs the Debian packages that building and testing ZV need, when they
# are missing.  Runs apt-get as root, or through sudo.
set -euo pipefail
packages=(cmake make g++ pkg-config libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev)
if [ "${1:-}" = "--tests" ]; then
  # The sanitizer and fuzzing runs use clang; the Windows check uses MinGW;
  # the API reference is built with Doxygen, the examples run under Valgrind.
  packages+=(clang libclang-rt-dev g++-mingw-w64-x86-64 doxygen valgrind)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null

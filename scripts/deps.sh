#!/usr/bin/env bash
# Installs the Debian packages that building and testing ZV need, when they
# are missing.  Runs apt-get as root, or through sudo.
#   deps.sh            the build
#   deps.sh --tests    and the sanitizer, fuzzing and Windows runs
#   deps.sh --windows  the Windows stage: MinGW-w64, Wine, Xvfb, GoogleTest's sources
#   deps.sh --m32      the 32-bit Linux build (scripts/test-m32.sh)
#   deps.sh --wine32   32-bit Wine (adds the i386 architecture; undone if
#                      its package lists cannot be fetched)
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
windows=(cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
         wine64 xvfb xauth googletest)
packages=(cmake make g++ pkg-config libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev)
case "${1:-}" in
  # The sanitizer and fuzzing runs use clang; the API reference is built with
  # Doxygen, the examples run under Valgrind; then the Windows stage.
  --tests) packages+=(clang libclang-rt-dev doxygen valgrind "${windows[@]}") ;;
  --windows) packages=("${windows[@]}") ;;
  --m32) packages=(cmake make g++-multilib googletest qemu-user) ;;
  --wine32)
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" && exit 0
    added=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
      added=1
    fi
    update=$($SUDO apt-get update -qq 2>&1) && status=0 || status=$?
    [ -n "$update" ] && echo "$update" >&2
    if [ "$status" != 0 ] || echo "$update" | grep -q '^[EW]:' ||
       ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq wine32:i386 >/dev/null; then
      # Leave apt as it was: a half-added architecture breaks every later update.
      if [ "$added" = 1 ]; then
        $SUDO dpkg --remove-architecture i386 && $SUDO apt-get update -qq >/dev/null 2>&1 || true
      fi
      echo "wine32: the i386 packages cannot be installed from this machine's mirror"
      exit 1
    fi
    exit 0 ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null

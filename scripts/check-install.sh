#!/usr/bin/env bash
# Installs a build into a scratch prefix and builds a small C program
# against the installed copy twice: through pkg-config and through
# find_package(zv); then runs the installed `zv demo`, which must find the
# installed sample server.  Works for any library folder the build was
# configured with (lib, lib64, lib/x86_64-linux-gnu).  Usage: check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
cat >"$scratch/client.c" <<'C'
#include <string.h>
#include "zv.h"
int main(void) {
    char narrow[8];
    ZVWCHAR wide[8];
    ZVFromAnsi(wide, "zv");
    ZVToAnsi(narrow, wide);
    return strcmp(narrow, "zv") == 0 && ZVHWEndian() == 2 ? 0 : 1;
}
C
pc=$(find "$scratch/prefix" -name zv.pc | head -1)
export PKG_CONFIG_PATH="$(dirname "$pc")"
cc -std=c99 "$scratch/client.c" $(pkg-config --cflags --libs zv) -o "$scratch/pc-client"
LD_LIBRARY_PATH="$(pkg-config --variable=libdir zv)" "$scratch/pc-client"
echo "pkg-config client: ok"

mkdir -p "$scratch/cm"
cat >"$scratch/cm/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(client C)
find_package(zv REQUIRED)
add_executable(client ../client.c)
target_link_libraries(client PRIVATE zv::zv)
CM
cmake -S "$scratch/cm" -B "$scratch/cm/build" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/cm/build" >/dev/null
"$scratch/cm/build/client"
echo "find_package client: ok"

demo=$(HOME="$scratch" ZV_SAMPLE_SERVER= "$scratch/prefix/bin/zv" demo)
server=$(echo "$demo" | sed -n 's/^ *server: //p')
case "$server" in
  "$scratch/prefix/"*/zv/*) echo "installed demo: ok ($server)" ;;
  *) echo "installed demo: used the server at '$server', not the installed one" >&2; exit 1 ;;
esac

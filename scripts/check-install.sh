#!/usr/bin/env bash
# Installs a build into a scratch prefix and builds a small C program
# against the installed copy twice: through pkg-config and through
# find_package(zv).  Usage: check-install.sh BUILD_DIR
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
libdir=$(ls -d "$scratch"/prefix/lib*/pkgconfig | head -1)
export PKG_CONFIG_PATH="$libdir"
cc -std=c99 "$scratch/client.c" $(pkg-config --cflags --libs zv) -o "$scratch/pc-client"
LD_LIBRARY_PATH="$(dirname "$libdir")" "$scratch/pc-client"
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

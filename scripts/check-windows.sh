#!/usr/bin/env bash
# Compiles every library source above the platform layer against the real
# <windows.h> with the MinGW cross compiler, so the Windows road stays open.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=${MINGW_CXX:-x86_64-w64-mingw32-g++}
status=0
count=0
for source in src/frame/*.cpp src/os/*.cpp src/containers/*.cpp src/uri/*.cpp \
              src/components/*.cpp src/config/*.cpp; do
  [ -e "$source" ] || continue
  count=$((count + 1))
  if ! "$CXX" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -DZV_BUILDING_LIBRARY \
       -Iinclude -Isrc "$source"; then
    echo "windows build: FAILED $source" >&2
    status=1
  fi
done
echo "windows build: $count sources checked"
exit $status

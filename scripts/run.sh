#!/usr/bin/env bash
# Sets up what is missing, builds the zv tool into build/ and runs its main
# job: `zv demo`, or the zv command given as arguments
# (scripts/run.sh reg tree 'HKCR\CLSID').  It says on stderr where the tool
# was built and which registry the command uses.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# No options: build/ keeps whatever its owner configured (tests included),
# and the two targets below are all this script builds.
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target zv_tool zv_sample_server >/dev/null
if [ $# -eq 0 ]; then set -- demo; fi
registry=${ZV_REGISTRY:-${XDG_DATA_HOME:-$HOME/.local/share}/zv/registry.db}
echo "run.sh: the tool is $(pwd)/build/tools/zv; run it again with build/tools/zv $*" >&2
if [ "$1" = demo ]; then
  echo "run.sh: the demo works in a registry and a folder of its own, both removed at the end" >&2
else
  echo "run.sh: zv $1 uses the registry at $registry (ZV_REGISTRY chooses another)" >&2
fi
exec ./build/tools/zv "$@"

#!/usr/bin/env bash
# build.sh <folder> [cmake options...]: configures (once) and builds into <folder>.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$1
shift
if [ ! -f "$folder/build.ninja" ]; then
  cmake -S . -B "$folder" -G Ninja "$@" >/dev/null
fi
cmake --build "$folder" -- -k 0

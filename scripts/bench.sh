#!/usr/bin/env bash
# Builds in Release and runs every benchmark in bench/, each comparing against a peer tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVELMOR_BUILD_TESTS=OFF
for bench in build-release/bench/*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench"
done

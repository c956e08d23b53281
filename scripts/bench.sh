#!/usr/bin/env bash
# Builds in Release and runs every benchmark in bench/, each comparing against a peer tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
# Peer tools of the benchmarks, needed only here.
for peer in jdupes rmlint inotifywait; do
  if ! command -v "$peer" >/dev/null; then
    case "$peer" in
      inotifywait) package=inotify-tools ;;
      *) package=$peer ;;
    esac
    apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=300 "$package" >/dev/null
  fi
done
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVELMOR_BUILD_TESTS=OFF
for bench in build-release/bench/*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench"
done

#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVELMOR_BUILD_TESTS=OFF
exec build-release/app/ui/marrowdale "$@"

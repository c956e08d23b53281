#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVELMOR_BUILD_TESTS=OFF
app=build-release/app/ui/marrowdale
if [ -x "$app" ]; then
  exec "$app" "$@"
fi
echo "Built the libraries. There is no application to start yet."

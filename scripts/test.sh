#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once plainly, once under AddressSanitizer
# and UndefinedBehaviorSanitizer, and the concurrency-bearing tests once more under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

jobs=$(nproc)
# A test that hangs fails after this many seconds instead of holding up the whole run; the slowest
# take a few seconds, under the sanitizers too.
run_tests() {
  ctest --test-dir "$1" --output-on-failure --timeout 300 -j "$jobs" "${@:2}"
}

echo "== build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=Debug
run_tests build
echo "== pictures of the interface's states: $PWD/build/screenshots"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMOR_SANITIZE=address
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_tests build-asan

if ctest --test-dir build -N -L tsan | grep -q 'Total Tests: [1-9]'; then
  echo "== ThreadSanitizer"
  scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELMOR_SANITIZE=thread
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_tests build-tsan -L tsan
fi
echo "== all tests passed"

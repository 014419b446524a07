#!/usr/bin/env bash
# Installs whatever is missing, builds Vitrel and runs the whole test suite:
#   1. ThreadSanitizer build, concurrency tests;
#   2. AddressSanitizer + UndefinedBehaviorSanitizer build, every test.
# Build trees live under build/ and are reused on later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/install-deps.sh
else
  sudo bash scripts/install-deps.sh
fi

JOBS=$(nproc)
configure() {  # configure DIR [cmake args...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

echo "== ThreadSanitizer: concurrency tests"
configure build/tsan -DVITREL_SANITIZE=thread
cmake --build build/tsan -j "$JOBS" --target concurrency_tests
ctest --test-dir build/tsan -j "$JOBS" -L concurrency --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
configure build/asan -DVITREL_SANITIZE=address,undefined
cmake --build build/asan -j "$JOBS"
ctest --test-dir build/asan -j "$JOBS" --output-on-failure

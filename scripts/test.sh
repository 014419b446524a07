#!/usr/bin/env bash
# Installs whatever is missing, builds Vitrel and runs the whole test suite:
#   1. plain Release build (-O3, where GCC warns differently), every test;
#   2. ThreadSanitizer build, concurrency tests;
#   3. libFuzzer targets (clang, ASan + UBSan), 60 seconds each;
#   4. AddressSanitizer + UndefinedBehaviorSanitizer build, every test.
# Build trees live under build/ and are reused on later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/install-deps.sh
else
  sudo bash scripts/install-deps.sh
fi

JOBS=$(nproc)
configure() {  # configure DIR [cmake args...]; later arguments win
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVITREL_MESA_CACHE_DIR="$PWD/build/mesa-shader-cache" "$@" >/dev/null
}

echo "== Release: all tests"
configure build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$JOBS"
ctest --test-dir build/release -j "$JOBS" --output-on-failure

echo "== ThreadSanitizer: concurrency tests"
configure build/tsan -DVITREL_SANITIZE=thread
cmake --build build/tsan -j "$JOBS" --target concurrency_tests
ctest --test-dir build/tsan -j "$JOBS" -L concurrency --output-on-failure

echo "== libFuzzer (AddressSanitizer + UndefinedBehaviorSanitizer): 60 s per target"
configure build/fuzz -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DVITREL_FUZZ=ON -DVITREL_TESTS=OFF
cmake --build build/fuzz -j "$JOBS" --target json_fuzzer vsb_fuzzer scene_import_fuzzer
for target in json vsb scene_import; do
  # Fuzz a copy so that the committed seed corpus stays as it is.
  run_corpus=build/fuzz/corpus-run/$target
  rm -rf "$run_corpus"
  mkdir -p "$run_corpus"
  cp fuzz/corpus/$target/* "$run_corpus"/
  # -close_fd_mask=3 silences the target's own messages; findings still print.
  # The memory limits make any oversized allocation a finding at once.
  build/fuzz/fuzz/${target}_fuzzer -max_total_time=60 -timeout=10 -close_fd_mask=3 \
    -malloc_limit_mb=256 -rss_limit_mb=1024 -print_final_stats=1 "$run_corpus"
done

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
configure build/asan -DVITREL_SANITIZE=address,undefined
cmake --build build/asan -j "$JOBS"
ctest --test-dir build/asan -j "$JOBS" --output-on-failure

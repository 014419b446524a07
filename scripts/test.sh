#!/usr/bin/env bash
# Installs whatever is missing, builds Vitrel and runs the whole test suite:
#   1. plain Release build (-O3, where GCC warns differently), every test;
#   2. ThreadSanitizer build, concurrency tests;
#   3. libFuzzer targets (clang, ASan + UBSan), 60 seconds each;
#   4. AddressSanitizer + UndefinedBehaviorSanitizer build, every test but
#      the three statistical renders labelled slow_statistics (see below).
# Build trees live under build/ and are reused on later runs.
#
# Time goes mostly to lavapipe compiling the ray-tracing pipelines cold
# (minutes of CPU each). The Release stage pays it once per pipeline: a
# warm-up test (label "warmup", started first) compiles each into the Mesa
# disk cache in build/mesa-shader-cache, tests that need no such pipeline
# fill the cores the warm-ups leave, and the cases that need one wait for it
# (ctest fixtures, tests/CMakeLists.txt) instead of compiling it again. The AddressSanitizer stage shares that cache, so it
# skips the warm-ups and starts longest first, using the durations the
# Release stage measured.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/install-deps.sh
else
  sudo bash scripts/install-deps.sh
fi

JOBS=$(nproc)
# The sanitizer and fuzzer builds keep only line tables for debug information
# (-g1): enough for file:line in every sanitizer stack trace, and about a
# fifth less compile time than full -g. The sanitizer test builds compile at
# -O1 (OPT=-O1), which halves their compile time against -O2 with
# instrumentation; the time their tests spend is lavapipe's, which is not
# instrumented. The fuzzers keep -O2 for their run rate.
configure() {  # [OPT=-O1] configure DIR [cmake args...]; later arguments win
  local dir=$1 opt=${OPT:--O2}
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="$opt -g1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$opt -g1 -DNDEBUG" \
    -DVITREL_MESA_CACHE_DIR="$PWD/build/mesa-shader-cache" "$@" >/dev/null
}

echo "== Release: all tests"
configure build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$JOBS"
ctest --test-dir build/release -j "$JOBS" --output-on-failure

echo "== ThreadSanitizer: concurrency tests"
OPT=-O1 configure build/tsan -DVITREL_SANITIZE=thread
cmake --build build/tsan -j "$JOBS" --target concurrency_tests
ctest --test-dir build/tsan -j "$JOBS" -L concurrency --output-on-failure

echo "== libFuzzer (AddressSanitizer + UndefinedBehaviorSanitizer): 60 s per target"
configure build/fuzz -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DVITREL_FUZZ=ON -DVITREL_TESTS=OFF
cmake --build build/fuzz -j "$JOBS" --target json_fuzzer vsb_fuzzer scene_import_fuzzer
fuzz() {  # fuzz TARGET: 60 s on its own core
  local target=$1
  # Fuzz a copy so that the committed seed corpus stays as it is.
  local run_corpus=build/fuzz/corpus-run/$target
  rm -rf "$run_corpus"
  mkdir -p "$run_corpus"
  cp fuzz/corpus/$target/* "$run_corpus"/
  # -close_fd_mask=3 silences the target's own messages; findings still print.
  # The memory limits make any oversized allocation a finding at once.
  local status=0
  build/fuzz/fuzz/${target}_fuzzer -max_total_time=60 -timeout=10 -close_fd_mask=3 \
    -malloc_limit_mb=256 -rss_limit_mb=1024 -print_final_stats=1 "$run_corpus" \
    >"build/fuzz/$target.log" 2>&1 || status=$?
  cat "build/fuzz/$target.log"
  return $status
}
# As many targets at a time as there are cores, each one a full core.
targets=(json vsb scene_import)
for ((first = 0; first < ${#targets[@]}; first += JOBS)); do
  pids=()
  for target in "${targets[@]:first:JOBS}"; do
    fuzz "$target" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid"; done
done

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
OPT=-O1 configure build/asan -DVITREL_SANITIZE=address,undefined
cmake --build build/asan -j "$JOBS"
# The Release stage's durations let ctest start the longest cases first.
mkdir -p build/asan/Testing/Temporary
cp build/release/Testing/Temporary/CTestCostData.txt build/asan/Testing/Temporary/ 2>/dev/null || true
# The pipelines are in the shared Mesa cache already, so the warm-ups are
# skipped (-FA keeps ctest from adding them back for the cases that require
# them). "slow_statistics" (see tests/test_schedule.cmake) are the
# statistical path-tracer renders that take minutes here; the Release stage
# runs them, and the shorter path-tracer cases cover the same host code under
# AddressSanitizer.
ctest --test-dir build/asan -j "$JOBS" --output-on-failure \
  -LE 'warmup|slow_statistics' -FA '_pipelines$'

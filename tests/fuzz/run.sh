#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on the whole build) into build/fuzz and runs each
# for a short time from its seed corpus, printing how many inputs it ran.
# Usage: tests/fuzz/run.sh [SECONDS]   (default 20 per target; also
# MEVRID_FUZZ_SECONDS). New inputs the fuzzer finds go to build/fuzz/corpus,
# never into the seed corpus of the repository.
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-${MEVRID_FUZZ_SECONDS:-20}}
jobs=${MEVRID_JOBS:-2}
build=build/fuzz
targets=(command_line registry)

scripts/ensure-deps.sh --fuzz || true
cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)
if [ -z "$cxx" ] || [ -z "$cc" ] ||
   ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, long) { return 0; }' |
     "$cxx" -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
  echo "fuzz targets skipped: clang with libFuzzer (clang-14, libclang-rt-14-dev) is not available"
  exit 0
fi

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
       -DMEVRID_TESTS=OFF -DMEVRID_BENCH=OFF -DMEVRID_FUZZ=ON \
       -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >"$build.log" 2>&1 ||
   ! cmake --build "$build" -j"$jobs" --target "${targets[@]/%/_fuzz}" >>"$build.log" 2>&1; then
  tail -30 "$build.log"
  echo "fuzz build failed (log: $build.log)"
  exit 1
fi

failed=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/$target.log"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/" \
    "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "fuzz $target: FAILED after ${runs:-?} runs (log: $log)"
    grep -m5 -E 'ERROR|SUMMARY|runtime error' "$log"
  else
    echo "fuzz $target: ${runs:-?} inputs in ${seconds} s, no fault"
  fi
done
exit "$failed"

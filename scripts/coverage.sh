#!/usr/bin/env bash
# Branch coverage of the logic (cli/, probe/, component/, services/) by the
# native test suite: builds with --coverage into build/coverage, runs every
# test (the unit tests and the built tool run by the end-to-end and
# reliability tests all add to the same counters), and sums gcov's branch
# counts per folder. Branches that only an exception thrown by the C++
# library would take (gcov marks them "(throw)") are left out: the tool
# throws none of its own.
# Usage: scripts/coverage.sh [--no-build]   (--no-build: count the last run again)
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=$top/build/coverage
jobs=${MEVRID_JOBS:-2}
folders=(cli probe component services)

if [ "${1:-}" != "--no-build" ]; then
  scripts/ensure-deps.sh || exit 1
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DMEVRID_TESTS=ON -DMEVRID_BENCH=OFF \
    -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null || exit 1
  if ! cmake --build "$build" -j"$jobs" >"$build/build.log" 2>&1; then
    tail -30 "$build/build.log"
    exit 1
  fi
  find "$build" -name '*.gcda' -delete
  echo "running the native suite with coverage counters (log: $build/ctest.log)"
  (cd "$build" && ctest -j"$jobs" >ctest.log 2>&1) || echo "warning: some tests failed (see $build/ctest.log)"
  tail -3 "$build/ctest.log"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
objects=$build/CMakeFiles/mevrid_logic.dir
printf '\n%-12s %10s %10s %8s\n' folder branches taken percent
total_all=0
taken_all=0
for folder in "${folders[@]}"; do
  total=0
  taken=0
  for source in "$folder"/*.cc; do
    case "$source" in *_test.cc | */main.cc) continue ;; esac
    object=$objects/$source.o
    [ -f "${object%.o}.gcno" ] || continue
    rm -f "$scratch"/*.gcov
    (cd "$scratch" && gcov -b -c -o "$object" "$top/$source" >/dev/null 2>&1)
    report=$scratch/$(basename "$source").gcov
    [ -f "$report" ] || continue
    read -r t k < <(awk '/^branch/ && !/\(throw\)/ { total++; if ($3 == "taken" && $4 > 0) taken++ }
                         END { print total + 0, taken + 0 }' "$report")
    total=$((total + t))
    taken=$((taken + k))
  done
  total_all=$((total_all + total))
  taken_all=$((taken_all + taken))
  awk -v f="$folder/" -v n="$total" -v k="$taken" \
    'BEGIN { printf "%-12s %10d %10d %7.1f%%\n", f, n, k, n ? 100 * k / n : 0 }'
done
awk -v n="$total_all" -v k="$taken_all" 'BEGIN { printf "%-12s %10d %10d %7.1f%%\n", "all", n, k, n ? 100 * k / n : 0 }'

#!/usr/bin/env bash
# Builds and runs every test: the native suite (release and sanitizers), the
# short fuzz runs, the Windows build under Wine, and the Ansible role on a
# fleet of emulated machines.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=${MEVRID_JOBS:-2}
failed=()

step() { printf '\n=== %s\n' "$*"; }

scripts/ensure-deps.sh || exit 1

step "include check (the layering of ARCHITECTURE.md)"
python3 scripts/check_includes.py --self-test || failed+=("include check")

step "native build and tests (preset default)"
if cmake --preset default >/dev/null && cmake --build --preset default -j"$jobs" >/dev/null; then
  ctest --preset default -j"$jobs" || failed+=("native tests")
else
  cmake --build --preset default -j1 2>&1 | tail -40
  failed+=("native build")
fi

step "native tests under AddressSanitizer and UndefinedBehaviorSanitizer (preset asan)"
if cmake --preset asan >/dev/null && cmake --build --preset asan -j"$jobs" >/dev/null; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j"$jobs" || failed+=("asan tests")
else
  cmake --build --preset asan -j1 2>&1 | tail -40
  failed+=("asan build")
fi

if [ -x tests/fuzz/run.sh ]; then
  step "fuzz targets (short runs)"
  tests/fuzz/run.sh || failed+=("fuzz")
fi

step "Windows build under Wine"
if [ -x tests/wine/run.sh ]; then
  wine_ok=1
  tests/wine/run.sh || wine_ok=""
  echo "--- the same scenarios with the deployment variables set"
  tests/wine/run.sh --no-build --deploy || wine_ok=""
  [ -n "$wine_ok" ] || failed+=("wine suite")
else
  echo "wine suite skipped: tests/wine/run.sh is missing"
fi

step "Ansible role on a fleet of emulated machines"
tests/fleet/run.sh || failed+=("fleet test")

# Suites run: include check, native, asan, fuzz (when present), wine, fleet.
total=5
[ -x tests/fuzz/run.sh ] && total=6
echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  echo "suites: $((total - ${#failed[@]})) passed, ${#failed[@]} failed"
  exit 1
fi
echo "suites: $total passed, 0 failed"

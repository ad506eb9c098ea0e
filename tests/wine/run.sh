#!/usr/bin/env bash
# The Windows build under Wine.
#
#   tests/wine/run.sh [--update] [--keep] [--no-build] [--no-posix] [--deploy] [SCENARIO...]
#
# 1. Makes sure MinGW-w64 and Wine are there (installs them with apt when
#    missing and possible; otherwise skips with one line and status 0).
# 2. Builds the windows preset (build/windows).
# 3. Boots a fresh Wine prefix for this run (headless: no display, no Mono or
#    Gecko prompts) and runs the conformance tests of the Win32 seam in a copy
#    of it.
# 4. Runs every scenario of scenarios.sh on its own copy of the prefix,
#    seeded with Wine's reg and sc, and compares the transcript (the tool's
#    output with CRLF made LF, exit statuses, registry, services, files, the
#    pre-processors' calls) with expected/<scenario>.txt.
# 5. Runs the same scenarios on emulated machines of the POSIX build and
#    compares those transcripts with Wine's, leaving out only the divergences
#    of Wine that each scenario names.
#
# --update writes the Wine transcripts as the new expected files (review the
# diff before keeping it); --keep keeps the work directory; --no-build uses
# the builds as they are; --no-posix skips step 5. MEVRID_POSIX_BUILD names
# the POSIX build (default build/default), MEVRID_WINE_PARALLEL how many
# scenarios run at once (3), MEVRID_WINE_RETRIES how often a failed Wine
# scenario is run again alone (1).
# --deploy runs every tool with the four deployment variables set (msi exit
# codes, a lock bound, a record and a log): the console must be the expected
# one with only the codes mapped, and each run's record (a "## record"
# section) must be the same on Wine and on the emulation.
# Ends with "N passed, M failed" and status 1 when anything failed.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
jobs=${MEVRID_JOBS:-2}
retries=${MEVRID_WINE_RETRIES:-1}
parallel=${MEVRID_WINE_PARALLEL:-3}

update="" keep_machines="" build=1 posix=1 deploy="" only=()
for arg in "$@"; do
  case $arg in
    --update) update=1 ;;
    --keep) keep_machines=1 ;;
    --no-build) build="" ;;
    --no-posix) posix="" ;;
    --deploy) deploy=1 ;;
    -h | --help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option $arg" >&2; exit 2 ;;
    *) only+=("$arg") ;;
  esac
done

skip() {
  echo "wine suite skipped: $*"
  exit 0
}

started=$SECONDS
passed=0 failed=0 failures=()
pass() { passed=$((passed + 1)); printf 'ok      %s\n' "$1"; }
fail() { failed=$((failed + 1)); failures+=("$1"); printf 'FAILED  %s\n' "$1"; }
finish() {
  echo
  [ ${#failures[@]} -gt 0 ] && printf 'failed: %s\n' "${failures[@]}"
  echo "wine suite took $((SECONDS - started)) s"
  echo "$passed passed, $failed failed"
  [ -n "$keep_machines" ] && [ -n "${work:-}" ] && echo "work directory kept: $work"
  [ "$failed" -eq 0 ]
  exit $?
}

# --- 1. tools -------------------------------------------------------------------
ensure_tools() {
  local missing=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
  command -v wine >/dev/null || missing+=(wine)
  { [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null; } || missing+=(wine64)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  command -v cmake >/dev/null || missing+=(cmake)
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    skip "${missing[*]} missing and cannot be installed here (apt-get as root needed)"
  fi
  echo "installing missing packages for the Wine suite: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! { apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null; }; then
    skip "apt-get could not install ${missing[*]}"
  fi
}
ensure_tools

. "$here/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/mevrid-wine.XXXXXX")
# Whatever happens, no wineserver of ours outlives the run.
cleanup() {
  local prefix
  for prefix in "$work"/*/; do [ -d "$prefix" ] && wine_stop_server "${prefix%/}"; done
  [ -z "$keep_machines" ] && rm -rf "$work"
}
trap cleanup EXIT

# --- 2. the Windows build ---------------------------------------------------------
winbuild=$top/build/windows
if [ -n "$build" ]; then
  if (cd "$top" && cmake --preset windows && cmake --build "$winbuild" -j"$jobs") >"$work/build.log" 2>&1; then
    pass "windows build (cmake --preset windows)"
  else
    tail -40 "$work/build.log"
    fail "windows build (cmake --preset windows)"
    finish
  fi
fi
wine_release=$winbuild/release
wine_programs=$winbuild/wine-programs
for f in "$wine_release/mevrid.exe" "$wine_release/mevrid-status.exe" "$wine_release/nt_node/qelmot32.dll" \
  "$wine_release/nt_node/vtrin.sys" "$wine_programs/test_service.exe" "$wine_programs/record_call.exe" "$wine_programs/component_check.exe" \
  "$wine_programs/hold_file.exe"; do
  [ -f "$f" ] || { fail "windows build output ${f#$top/}"; finish; }
done
# PE32+ (pei-x86-64, magic 020b) with the console subsystem (3).
exe=$(x86_64-w64-mingw32-objdump -p "$wine_release/mevrid.exe")
if grep -q 'file format pei-x86-64' <<<"$exe" && grep -q '^Magic.*020b' <<<"$exe" &&
  grep -q '^Subsystem.*00000003' <<<"$exe"; then
  pass "mevrid.exe is a PE32+ console executable"
else
  fail "mevrid.exe is a PE32+ console executable"
fi
# Statically linked: only the system's own DLLs are imported.
for program in mevrid.exe mevrid-status.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$wine_release/$program" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  if [ "$imports" = "advapi32.dll kernel32.dll msvcrt.dll " ]; then
    pass "$program imports only advapi32, kernel32 and msvcrt"
  else
    fail "$program imports only advapi32, kernel32 and msvcrt (imports: $imports)"
  fi
done
exe=$(x86_64-w64-mingw32-objdump -p "$wine_release/mevrid-status.exe")
if grep -q '^Magic.*020b' <<<"$exe" && grep -q '^Subsystem.*00000003' <<<"$exe"; then
  pass "mevrid-status.exe is a PE32+ console executable"
else
  fail "mevrid-status.exe is a PE32+ console executable"
fi
drv=$(x86_64-w64-mingw32-objdump -p "$wine_release/nt_node/vtrin.sys")
if grep -q 'Subsystem.*(NT native)' <<<"$drv" && [ "$(sed -n 's/^\tDLL Name: //p' <<<"$drv")" = ntoskrnl.exe ]; then
  pass "vtrin.sys is a native-subsystem image importing only ntoskrnl.exe"
else
  fail "vtrin.sys is a native-subsystem image importing only ntoskrnl.exe"
fi

# --- 3. the Wine prefix and the conformance tests -----------------------------------
export WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
wine_base_prefix=$work/base-prefix
if ! WINEPREFIX=$wine_base_prefix wineboot -i >"$work/wineboot.log" 2>&1 ||
  ! WINEPREFIX=$wine_base_prefix wineserver -w; then
  tail -20 "$work/wineboot.log"
  fail "wine prefix (wineboot -i)"
  finish
fi
pass "wine prefix (wineboot -i)"
. "$here/scenarios.sh"
seeds_dir=$here/seeds

# The release files as Windows sees them: version resources, and a library
# that loads and answers its version.
backend=wine machine=$work/release-prefix transcript=/dev/null
machine_create
seen=$(wine_env wine 'C:\mvt\component_check.exe' 'C:\release\mevrid.exe' 'C:\release\nt_node\qelmot32.dll' \
  'C:\release\nt_node\vtrin.sys' 2>/dev/null | crlf_to_lf)
machine_destroy
want='mevrid.exe: FileVersion 4.0, ProductName Kelm KOTA Component
qelmot32.dll: FileVersion 4.0, ProductName Kelm KOTA Component
qelmot32.dll: loads, answers 4.0
vtrin.sys: FileVersion 4.0, ProductName Kelm KOTA Component'
if [ "$seen" = "$want" ]; then
  pass "release files carry version 4.0 and qelmot32.dll loads under Wine"
else
  diff <(echo "$want") <(echo "$seen")
  fail "release files carry version 4.0 and qelmot32.dll loads under Wine"
fi

# mevrid-status.exe on Windows' own registry, services and files: detection
# before and after an install, the state as JSON, and the plan of the next
# install.
backend=wine machine=$work/status-prefix transcript=/dev/null
machine_create
status_exe() { (cd "$machine/drive_c/release" && wine_env wine 'C:\release\mevrid-status.exe' "$@" 2>/dev/null | crlf_to_lf; echo "[exit ${PIPESTATUS[0]}]"); }
detect_before=$(status_exe --detect ProdA)
(cd "$machine/drive_c/release" && wine_env wine cmd /c mevrid.exe -q -k ProdA -p "$(recorder PRODA)" >/dev/null 2>&1)
state_json=$(status_exe --json --release 'C:\release')
plan_json=$(status_exe --plan --json -k ProdB -p "$(recorder PRODB)")
detect_after=$(status_exe --detect proda)
machine_destroy
status_ok=1
[ "$detect_before" = "[exit 1]" ] || status_ok=""
[ "$detect_after" = $'PRODA: registered, component 4.0 current, driver service vtrin defined\n[exit 0]' ] || status_ok=""
for part in '"version":"4.0"' '{"name":"PRODA","image":"C:\\mvt\\record_call.exe PRODA"}' \
  '"driver_service":{"name":"vtrin","presence":"defined"' '"pending_deletions":[],"install_lock_held":false}' \
  '"name":"qelmot32.dll","path":"C:\\windows\\system32\\qelmot32.dll","present":true'; do
  grep -qF -- "$part" <<<"$state_json" || status_ok=""
done
[ "$(grep -o '"release":"same"' <<<"$state_json" | wc -l)" = 3 ] || status_ok=""
grep -qF '"mode":"install","outcome":"registered","changed":true' <<<"$plan_json" || status_ok=""
if [ -n "$status_ok" ]; then
  pass "mevrid-status.exe under Wine: detection, the state as JSON and a plan after an install"
else
  printf '%s\n' "$detect_before" "$detect_after" "$state_json" "$plan_json"
  fail "mevrid-status.exe under Wine: detection, the state as JSON and a plan after an install"
fi

# The install lock with the real tool. A pre-processor that runs the tool
# goes ahead under its parent's holding (a wait there would never end); a run
# that copied the record a holder hands its children into its environment,
# but was not started by that holder, waits, and with a bound of 0 gives up.
backend=wine machine=$work/lock-prefix transcript=/dev/null
machine_create
cp "$winbuild/tests/run_nested.exe" "$winbuild/tests/lock_probe.exe" "$machine/drive_c/mvt/"
# The tool through cmd, with "NAME=VALUE" environment entries first.
tool_exe() { (cd "$machine/drive_c/release" && wine_env timeout 120 env "$@" 2>/dev/null | crlf_to_lf; echo "[exit ${PIPESTATUS[0]}]"); }
nested_image='C:\mvt\run_nested.exe C:\release\mevrid.exe -q -k Inner -p C:\mvt\record_call.exe'
tool_exe wine cmd /c mevrid.exe -q -k Outer -p "$nested_image" >/dev/null
nested_removal=$(tool_exe wine cmd /c mevrid.exe -k Outer -r)
nested_inner=$(status_exe --detect Inner)
record_file=$(host_path 'C:\mvt')/holder.txt
(wine_env wine 'C:\mvt\lock_probe.exe' hold 'C:\mvt\holder.txt' >/dev/null 2>&1 &)
for _ in $(seq 300); do [ -s "$record_file" ] && break; sleep 0.1; done
copier=$(tool_exe MEVRID_INSTALL_LOCK="$(cat "$record_file" 2>/dev/null)" MEVRID_LOCK_TIMEOUT=0 \
  wine cmd /c mevrid.exe -k Copier -p "$(recorder COPIER)")
held=""
[ -s "$record_file" ] && held=1
machine_destroy
lock_lines=$'Waiting for another installation of the KOTA component to finish.\n\tERROR: Could not gain exclusive access to the KOTA component.\n[exit 1]'
if [[ $nested_removal == *$'Remove Complete: No errors encountered.\n\n[exit 0]' && $nested_removal != *Waiting* &&
  $nested_inner == "INNER: registered"* && -n $held && $copier == "$lock_lines" ]]; then
  pass "install lock under Wine: a nested run goes ahead, a run that copied the holder's record waits"
else
  printf '%s\n' "$nested_removal" "$nested_inner" "$copier"
  fail "install lock under Wine: a nested run goes ahead, a run that copied the holder's record waits"
fi

conformance=$winbuild/tests/conformance_tests.exe
if [ -f "$conformance" ]; then
  backend=wine machine=$work/conformance-prefix transcript=/dev/null
  machine_create
  out=$work/conformance.txt
  (cd "$(dirname "$conformance")" && wine_env wine "$conformance" --gtest_color=no 2>/dev/null) | crlf_to_lf >"$out"
  status=${PIPESTATUS[0]}
  machine_destroy
  ok=$(grep -c '^\[       OK \]' "$out")
  bad=$(grep -E '^\[  FAILED  \] .*\([0-9]+ ms\)$' "$out" | sed 's/^\[  FAILED  \] //')
  passed=$((passed + ok))
  if [ -n "$bad" ]; then
    while IFS= read -r t; do fail "conformance under Wine: $t"; done <<<"$bad"
    grep -B30 '^\[  FAILED  \] .*([0-9]* ms)$' "$out" | grep -v '^\[ *\(RUN\|OK\) *\]' | head -60
  elif [ "$status" -ne 0 ] || [ "$ok" -eq 0 ]; then
    tail -30 "$out"
    fail "conformance under Wine: conformance_tests.exe ended with status $status after $ok tests"
  fi
  skipped=$(grep -E '^\[  SKIPPED \] .*\([0-9]+ ms\)$' "$out" | sed 's/^\[  SKIPPED \] //')
  [ -n "$skipped" ] && while IFS= read -r t; do echo "conformance under Wine, skipped: $t"; done <<<"$skipped"
  echo "conformance under Wine: $ok passed"
else
  echo "conformance under Wine: no conformance tests built"
fi

# --- 4. scenarios on Wine -------------------------------------------------------------
[ ${#only[@]} -gt 0 ] && scenarios=("${only[@]}")
mkdir -p "$work/wine" "$work/posix"

run_scenario() { # backend name -> transcript in $work/<backend>/<name>.txt
  backend=$1
  local name=$2
  machine=$work/$backend-$name
  transcript=$work/$backend/$name.txt
  divergences=$work/$backend/$name.divergences
  : >"$transcript"
  : >"$divergences"
  rm -rf "$machine"
  machine_create || { echo "could not create the $backend machine" >>"$transcript"; return 1; }
  "scenario_$name"
  machine_destroy
}

# Scenarios run side by side, each on its own machine: most of their time
# is spent waiting for services, not computing.
run_scenarios() { # backend name... -> transcripts, and <name>.time in seconds
  local backend_=$1 name running=0
  shift
  for name in "$@"; do
    (
      started_=$SECONDS
      run_scenario "$backend_" "$name"
      echo $((SECONDS - started_)) >"$work/$backend_/$name.time"
    ) &
    running=$((running + 1))
    if [ $running -ge "$parallel" ]; then
      wait -n
      running=$((running - 1))
    fi
  done
  wait
}

known=()
for name in "${scenarios[@]}"; do
  if declare -F "scenario_$name" >/dev/null; then known+=("$name"); else fail "scenario $name (no such scenario)"; fi
done
scenarios=("${known[@]}")
run_scenarios wine "${scenarios[@]}"

for name in "${scenarios[@]}"; do
  expected=$here/expected/$name.txt
  took=$(cat "$work/wine/$name.time" 2>/dev/null)
  if [ -n "$update" ]; then
    cp "$work/wine/$name.txt" "$expected"
    pass "wine: $name (${took} s, expected output written)"
    continue
  fi
  attempt=0
  while :; do
    seen=$work/wine/$name.txt
    # With the variables the console is the same; only the codes are mapped.
    if [ -n "$deploy" ]; then
      deploy_as_plain "$seen" >"$work/wine/$name.plain"
      seen=$work/wine/$name.plain
    fi
    if [ -f "$expected" ] && cmp -s "$expected" "$seen"; then
      pass "wine: $name (${took} s$([ $attempt -gt 0 ] && echo ", on retry $attempt alone: see the diff above"))"
      break
    fi
    diff -u --label expected/$name.txt --label wine "$expected" "$seen" 2>&1 | head -60
    # Wine's services take real time; a retry on its own tells a busy machine
    # from a fault.
    if [ $attempt -lt "$retries" ] && [ -f "$expected" ]; then
      attempt=$((attempt + 1))
      echo "retrying $name alone"
      scenario_started=$SECONDS
      run_scenario wine "$name"
      took=$((SECONDS - scenario_started))
      continue
    fi
    fail "wine: $name"
    break
  done
done

# --- 5. the same scenarios on the POSIX build ---------------------------------------------
prepare_posix() {
  posix_build=${MEVRID_POSIX_BUILD:-$top/build/default}
  if [ -n "$build" ]; then
    if [ ! -f "$posix_build/CMakeCache.txt" ]; then
      posix_build=$top/build/wine-posix
      cmake -S "$top" -B "$posix_build" -DCMAKE_BUILD_TYPE=Release -DMEVRID_TESTS=OFF >"$work/posix-build.log" 2>&1 || return 1
    fi
    cmake --build "$posix_build" --target mevrid mevrid-machine qelmot32 vtrin_driver -j"$jobs" >>"$work/posix-build.log" 2>&1 || return 1
  fi
  posix_tool_release=$posix_build/release
  posix_machine_tool=$posix_build/tools/mevrid-machine
  [ -x "$posix_machine_tool" ] || posix_machine_tool=$posix_build/mevrid-machine
  posix_record_call=$work/record_call
  # shellcheck disable=SC2086 # CFLAGS may hold several flags (e.g. sanitizers)
  cc -O2 ${CFLAGS:-} -o "$posix_record_call" "$top/tests/wine/programs/record_call.c" >>"$work/posix-build.log" 2>&1 &&
    [ -x "$posix_tool_release/mevrid.exe" ] && [ -x "$posix_machine_tool" ]
}
# Without --no-build a missing POSIX build is a failure; with it, the
# comparison is skipped.
posix_present() {
  local b=${MEVRID_POSIX_BUILD:-$top/build/default}
  [ -x "$b/release/mevrid.exe" ] && { [ -x "$b/mevrid-machine" ] || [ -x "$b/tools/mevrid-machine" ]; }
}

# A transcript without the divergences of its scenario and without the
# Wine-only sections: $1 divergences, $2 transcript, $3 "wine" to apply the
# rewrites. The reasons of the divergences that applied go to standard error.
without_divergences() {
  local rewrites=() kind pattern why text
  while IFS=$'\t' read -r kind pattern why; do
    [ "$kind" = rewrite ] || continue
    rewrites+=(-e "$pattern")
    [ "$3" = wine ] && grep -qE "$(sed -E 's#^s/(.*)/.*/[a-z]*$#\1#' <<<"$pattern")" "$2" &&
      echo "        divergence of Wine: $why" >&2
  done <"$1"
  if [ "$3" = wine ] && [ ${#rewrites[@]} -gt 0 ]; then text=$(sed -E "${rewrites[@]}" "$2"); else text=$(cat "$2"); fi
  printf '%s\n' "$text" | awk -F'\t' -v show="$3" '
    FNR == NR { kind[NR] = $1; re[NR] = $2; why[NR] = $3; n = NR; next }
    /^## / {
      skipping = ($0 ~ /\(wine only\)$/)
      for (i = 1; i <= n; i++) if (kind[i] == "section" && $0 ~ re[i]) { skipping = 1; used[i] = 1 }
    }
    skipping { next }
    { for (i = 1; i <= n; i++) if (kind[i] == "line" && $0 ~ re[i]) { used[i] = 1; next } print }
    END { if (show) for (i = 1; i <= n; i++) if (used[i]) print "        divergence of Wine: " why[i] > "/dev/stderr" }
  ' "$1" -
}

if [ -n "$posix" ] && [ -z "$build" ] && ! posix_present; then
  echo "comparison with the POSIX build skipped: no POSIX build at ${MEVRID_POSIX_BUILD:-$top/build/default}"
  posix=""
fi
# A POSIX build with sanitizers reports into files here, since the tool's
# standard error is not part of a transcript.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}log_path=$work/sanitizer"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:log_path=$work/sanitizer"
if [ -n "$posix" ]; then
  if prepare_posix; then
    run_scenarios posix "${scenarios[@]}"
    for name in "${scenarios[@]}"; do
      took=$(cat "$work/posix/$name.time" 2>/dev/null)
      without_divergences "$work/wine/$name.divergences" "$work/wine/$name.txt" wine >"$work/wine/$name.cmp" 2>"$work/posix/$name.why"
      without_divergences "$work/wine/$name.divergences" "$work/posix/$name.txt" "" >"$work/posix/$name.cmp" 2>/dev/null
      if cmp -s "$work/wine/$name.cmp" "$work/posix/$name.cmp"; then
        pass "posix = wine: $name (${took} s)"
        cat "$work/posix/$name.why"
      else
        diff -u --label wine --label posix "$work/wine/$name.cmp" "$work/posix/$name.cmp" | head -60
        fail "posix = wine: $name"
      fi
    done
  else
    tail -20 "$work/posix-build.log"
    fail "posix build for the comparison with Wine"
  fi
fi

if compgen -G "$work/sanitizer*" >/dev/null; then
  head -60 "$work"/sanitizer*
  fail "sanitizer reports from the POSIX build"
fi

finish

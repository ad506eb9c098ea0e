#!/usr/bin/env bash
# The collection kelm.kota (the role kota_component) against a fleet of
# emulated machines.
#
#   tests/fleet/run.sh [--no-build] [--no-wine] [--hosts N] [--keep] [SCENARIO...]
#
# 1. Makes sure Debian's ansible, ansible-lint and rsync are there (installs
#    them with apt when missing, and says so; without root it skips).
# 2. Builds the POSIX tool, mevrid-machine and mevrid-status (preset default)
#    and, for the two Wine hosts, the windows preset.
# 3. Builds the collection kelm.kota with ansible-galaxy, installs the
#    tarball into the run's own collections path (the plays run from there),
#    and checks it without a Windows host: static_checks.py, ansible-lint
#    with the production profile, --syntax-check of both plays.
# 4. Runs the walkthrough of deploy/ansible/README.md as written (its
#    apt-get line aside: step 1 installs what is missing).
# 5. Generates an inventory of N emulated hosts (30 by default; local
#    connection, each its own machine on a virtual clock), seven hosts on two
#    shared machines, three set up wrongly, and two Wine hosts; runs the
#    scenarios with forks 8 and after every play reads every machine with
#    mevrid-machine (registry export, services, files) against what the
#    play must have left. The faults scenario needs 14 hosts or more.
#
# --no-build uses the builds as they are; --no-wine leaves out the Wine
# hosts; --keep keeps the work directory. Prints one summary line per play
# (hosts, changed, failed, unreachable) and ends with "N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
jobs=${MEVRID_JOBS:-2}
fleet_size=30 build=1 wine=1 keep="" only=()
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build="" ;;
    --no-wine) wine="" ;;
    --keep) keep=1 ;;
    --hosts) fleet_size=$2; shift ;;
    -h | --help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) only+=("$1") ;;
  esac
  shift
done

started=$SECONDS
passed=0 failed=0 failures=()
pass() { passed=$((passed + 1)); printf 'ok      %s\n' "$1"; }
fail() { failed=$((failed + 1)); failures+=("$1"); printf 'FAILED  %s\n' "$1"; }
finish() {
  [ -n "${wine_base_prefix:-}" ] && stop_wine
  echo
  [ ${#failures[@]} -gt 0 ] && printf 'failed: %s\n' "${failures[@]}"
  echo "fleet test took $((SECONDS - started)) s"
  echo "$passed passed, $failed failed"
  if [ -n "$keep" ]; then echo "work directory kept: $work"; else rm -rf "$work"; fi
  [ "$failed" -eq 0 ]
  exit $?
}

# --- 1. tools --------------------------------------------------------------------
missing=()
command -v ansible-playbook >/dev/null || missing+=(ansible)
command -v ansible-lint >/dev/null || missing+=(ansible-lint)
command -v rsync >/dev/null || missing+=(rsync)
command -v flock >/dev/null || missing+=(util-linux)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    echo "fleet test skipped: ${missing[*]} missing and cannot be installed here (apt-get as root needed)"
    exit 0
  fi
  echo "installing missing packages for the fleet test: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null || {
    echo "fleet test: apt-get install ${missing[*]} failed" >&2
    exit 1
  }
fi
if [ -n "$wine" ] && ! { command -v wine >/dev/null && command -v x86_64-w64-mingw32-gcc-posix >/dev/null; }; then
  echo "no Wine or MinGW here: the Wine hosts are left out"
  wine=""
fi

work=$(mktemp -d /tmp/mevrid-fleet.XXXXXX)

# --- 2. builds ---------------------------------------------------------------------
posix_build=${MEVRID_POSIX_BUILD:-$top/build/default}
if [ -n "$build" ]; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top}
  if (cd "$top" && cmake --preset default >/dev/null &&
    cmake --build --preset default -j"$jobs" --target mevrid mevrid-machine mevrid-status qelmot32 vtrin_driver) \
    >"$work/build.log" 2>&1; then
    pass "posix build"
  else
    tail -30 "$work/build.log"
    fail "posix build"
    finish
  fi
  if [ -n "$wine" ]; then
    if (cd "$top" && cmake --preset windows >/dev/null &&
      cmake --build --preset windows -j"$jobs" --target mevrid mevrid-status qelmot32 vtrin_driver record_call) \
      >"$work/build-windows.log" 2>&1; then
      pass "windows build"
    else
      tail -30 "$work/build-windows.log"
      fail "windows build"
      wine=""
    fi
  fi
fi
machine_tool=$posix_build/mevrid-machine
status_tool=$posix_build/mevrid-status
wine_programs=$top/build/windows/wine-programs
cc -O2 -o "$work/record_call" "$top/tests/wine/programs/record_call.c" || { fail "record_call"; finish; }

# --- 3. the collection and its static checks -----------------------------------
. "$here/lib.sh"
write_ansible_cfg
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0
if install_collection; then
  pass "collection kelm.kota built and installed from its tarball"
else
  tail -20 "$work/collection.log"
  fail "collection kelm.kota built and installed from its tarball"
  finish
fi
collection=$work/collections/ansible_collections/kelm/kota
if python3 "$here/static_checks.py" "$collection" "$top/deploy/ansible/ansible.cfg" >"$work/static.log" 2>&1; then
  pass "static checks: module arguments, programs by path, booleans, argument spec"
else
  cat "$work/static.log"
  fail "static checks: module arguments, programs by path, booleans, argument spec"
fi
if (cd "$top/deploy/ansible" && ansible-lint --offline --profile production) >"$work/lint.log" 2>&1; then
  pass "ansible-lint --profile production on the collection"
else
  grep -v 'Unable to load module\|^\[WARNING\]' "$work/lint.log" | tail -20
  fail "ansible-lint --profile production on the collection"
fi
for book in windows emulated; do
  if (cd "$collection" && ansible-playbook -i "examples/$book.ini" --syntax-check "kelm.kota.$book") \
    >"$work/syntax.log" 2>&1; then
    pass "ansible-playbook --syntax-check of kelm.kota.$book"
  else
    tail -20 "$work/syntax.log"
    fail "ansible-playbook --syntax-check of kelm.kota.$book"
  fi
done

# --- 4. the walkthrough of deploy/ansible/README.md, as written ------------------
if run_walkthrough; then
  pass "the README's walkthrough: roll-out, changed=0, check and upgrade, removal"
else
  fail "the README's walkthrough: roll-out, changed=0, check and upgrade, removal"
fi

# --- 5. the fleet --------------------------------------------------------------------
make_releases posix "$posix_build/release" || { fail "posix release directory"; finish; }

wine_base_prefix=""
stop_wine() {
  local p
  for p in "$work"/machines/w* "$wine_base_prefix"; do
    [ -d "$p" ] && WINEPREFIX=$p wineserver -k 2>/dev/null
  done
}
if [ -n "$wine" ]; then
  if make_releases windows "$top/build/windows/release"; then
    # Booted while the emulated scenarios run.
    wine_base_prefix=$work/base-prefix
    # The boot leaves its status in a file: the scenarios start thousands of
    # processes, and once the process ids wrap around bash forgets a finished
    # background job ("wait: pid N is not a child of this shell").
    (WINEPREFIX=$wine_base_prefix WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml=" \
      WINEARCH=win64 wineboot -i >"$work/wineboot.log" 2>&1 && WINEPREFIX=$wine_base_prefix wineserver -w
    echo $? >"$work/wineboot.status") &
    wine_boot=$!
  else
    fail "windows release directory"
    wine=""
  fi
fi

. "$here/scenarios.sh"

base_prefix_wanted=$wine_base_prefix
wine_base_prefix="" # the inventory gets its Wine hosts once the prefix is booted
fleet_inventory "$fleet_size" || { fail "inventory"; finish; }
pass "inventory: $fleet_size hosts on their own machines, 7 on two shared machines"

[ ${#only[@]} -gt 0 ] && scenarios=("${only[@]}")
for scenario in "${scenarios[@]}"; do
  [ "$scenario" = wine ] && continue
  before=$check_failures
  echo "--- $scenario"
  "scenario_$scenario"
  if [ "$check_failures" -eq "$before" ]; then pass "$scenario"; else fail "$scenario"; fi
done

if [ -n "$wine" ] && { [ ${#only[@]} -eq 0 ] || [[ " ${only[*]} " == *" wine "* ]]; }; then
  echo "--- wine"
  wait "$wine_boot" 2>/dev/null
  for _ in $(seq 600); do [ -s "$work/wineboot.status" ] && break; sleep 1; done
  if [ "$(cat "$work/wineboot.status" 2>/dev/null)" = 0 ]; then
    wine_base_prefix=$base_prefix_wanted
    before=$check_failures
    scenario_wine
    if [ "$check_failures" -eq "$before" ]; then pass "wine"; else fail "wine"; fi
  else
    tail -20 "$work/wineboot.log"
    fail "wine prefix (wineboot -i)"
  fi
fi
finish

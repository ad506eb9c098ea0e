#!/usr/bin/env bash
# What the role costs per host against the engine's floor, in the same run:
# for each host count, a fresh fleet gets one product's roll-out through
# the role (timed), then the same play on the unchanged release (the role)
# and a play of one ansible.builtin.command task that runs the tool on each
# host (the floor: same hosts, same forks, the same release copy), each
# REPS times, alternating; the medians are printed.
#
#   tests/fleet/measure.sh [--reps N] [COUNT...]     (10 30 100 by default)
#
# Uses the builds as they are (build/default). Not part of the test command.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
reps=3
[ "${1:-}" = --reps ] && { reps=$2; shift 2; }
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(10 30 100)
posix_build=${MEVRID_POSIX_BUILD:-$top/build/default}
machine_tool=$posix_build/mevrid-machine
status_tool=$posix_build/mevrid-status
work=$(mktemp -d /tmp/mevrid-measure.XXXXXX)
trap '[ -n "${MEASURE_KEEP:-}" ] || rm -rf "$work"' EXIT
cc -O2 -o "$work/record_call" "$top/tests/wine/programs/record_call.c" || exit 1

. "$here/lib.sh"
write_ansible_cfg
install_collection || { cat "$work/collection.log"; exit 1; }
make_releases posix "$posix_build/release" || exit 1

timed() { # timed VAR PLAY BOOK: seconds of one play on the fleet
  local t0 t1
  t0=$(date +%s.%N)
  play "$2" "$3" fleet -e product=PRODA >/dev/null
  t1=$(date +%s.%N)
  [ -z "$(hosts_where failed)" ] || echo "$2: failed hosts: $(hosts_where failed)" >&2
  printf -v "$1" '%s' "$(echo "$t1 - $t0" | bc)"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) CPUs, forks 8, $reps repetitions"
printf '%6s %10s %14s %12s %7s %14s %14s\n' hosts roll-out "role unchanged" floor ratio "role / host" "floor / host"
for n in "${counts[@]}"; do
  rm -rf "$work/machines"
  fleet_inventory "$n" >/dev/null || exit 1
  timed first "rollout-$n" product.yml
  roles=() floors=()
  for ((r = 1; r <= reps; r++)); do
    timed t "floor-$n-$r" floor.yml && floors+=("$t")
    timed t "again-$n-$r" product.yml && roles+=("$t")
    [ -z "$(hosts_where changed)" ] || echo "again-$n-$r: changed hosts: $(hosts_where changed)" >&2
  done
  role=$(median "${roles[@]}") floor=$(median "${floors[@]}")
  awk -v n="$n" -v f="$first" -v a="$role" -v l="$floor" \
    'BEGIN { printf "%6d %8.1f s %12.1f s %10.1f s %7.2f %12.3f s %12.3f s\n", n, f, a, l, a / l, a / n, l / n }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# What the engine costs: the wall time of one product's roll-out through the
# kota_component role (forks 8) against the same installs run one after
# another by a shell loop (release copied with rsync, the tool run with the
# same environment), for 10, 30 and 100 hosts or the counts given.
#
#   tests/fleet/measure.sh [COUNT...]
#
# Uses the builds as they are (build/default). Not part of the test command.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(10 30 100)
posix_build=${MEVRID_POSIX_BUILD:-$top/build/default}
machine_tool=$posix_build/mevrid-machine
status_tool=$posix_build/mevrid-status
work=$(mktemp -d /tmp/mevrid-measure.XXXXXX)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/record_call" "$top/tests/wine/programs/record_call.c" || exit 1

. "$here/lib.sh"
write_ansible_cfg
make_releases posix "$posix_build/release" || exit 1
release=$work/releases/posix/rel1

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) CPUs"
printf '%6s %12s %12s %14s\n' hosts ansible loop "engine / host"
for n in "${counts[@]}"; do
  rm -rf "$work/machines"
  fleet_inventory "$n" >/dev/null || exit 1
  t0=$(date +%s.%N)
  play "rollout-$n" product.yml fleet -e product=PRODA >/dev/null
  t1=$(date +%s.%N)
  [ "$(hosts_where changed | wc -w)" = "$n" ] || echo "roll-out of $n hosts: not every host changed" >&2

  rm -rf "$work/machines"
  fleet_inventory "$n" >/dev/null || exit 1
  t2=$(date +%s.%N)
  for ((i = 1; i <= n; i++)); do
    printf -v m '%s/machines/h%02d' "$work" "$i"
    dest=$m/drive_c/ProgramData/KelmKOTA/PRODA
    rsync -a --mkpath "$release/" "$dest/release/"
    (cd "$dest/release" && MEVRID_MACHINE=$m MEVRID_EXIT_CODES=msi MEVRID_RESULT_FILE=$dest/record.json \
      ./mevrid.exe -k PRODA -p 'C:\mvt\record_call.exe PRODA' >/dev/null) || echo "loop: host $i failed" >&2
  done
  t3=$(date +%s.%N)
  awk -v n="$n" -v a="$(echo "$t1 - $t0" | bc)" -v l="$(echo "$t3 - $t2" | bc)" \
    'BEGIN { printf "%6d %10.1f s %10.2f s %12.2f s\n", n, a, l, (a - l) / n }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

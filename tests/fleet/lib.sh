# The fleet test's shared parts: the inventory generator, the play runner
# that prints each play's summary, and the checker that reads every machine
# with mevrid-machine (or, for a Wine host, with Wine's own reg and sc).
#
# Set before use: work (the run's directory), top, here (tests/fleet),
# machine_tool, status_tool, and for Wine hosts wine_base_prefix and
# wine_programs.
# shellcheck disable=SC2154  # those are the caller's

kota_key='HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA'
session_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'

wine_env() {
  WINEPREFIX=$1 WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml=" "${@:2}"
}

# --- the engine's settings and the releases ------------------------------------

# Settings that keep the engine's own work small: no facts, pipelining, no
# retry files, the JSON callback (one document the test reads per play).
write_ansible_cfg() {
  cat >"$work/ansible.cfg" <<EOF
[defaults]
collections_path = $work/collections
gathering = explicit
forks = 8
retry_files_enabled = false
host_key_checking = false
deprecation_warnings = false
system_warnings = false
stdout_callback = ansible.posix.json
local_tmp = $work/ansible-tmp
remote_tmp = $work/ansible-tmp

[connection]
pipelining = true
EOF
  export ANSIBLE_CONFIG=$work/ansible.cfg
}

# The collection as a user gets it: built with ansible-galaxy from
# deploy/ansible and installed from the tarball into the run's own
# collections path (nothing downloaded).
install_collection() {
  ansible-galaxy collection build "$top/deploy/ansible" --output-path "$work" --force >"$work/collection.log" 2>&1 &&
    ansible-galaxy collection install "$work"/kelm-kota-*.tar.gz -p "$work/collections" --no-deps --offline \
      >>"$work/collection.log" 2>&1
}

# Two releases of the same build: rel2's files are newer, so rolling it out
# is an upgrade.
make_releases() {
  local kind=$1 from=$2
  [ -f "$from/mevrid.exe" ] || return 1
  mkdir -p "$work/releases/$kind"
  cp -a "$from" "$work/releases/$kind/rel1" && cp -a "$from" "$work/releases/$kind/rel2" || return 1
  find "$work/releases/$kind/rel1" -type f -exec touch -d '2026-01-05 12:00:00 UTC' {} +
  find "$work/releases/$kind/rel2" -type f -exec touch -d '2026-06-05 12:00:00 UTC' {} +
}

# --- machines and the inventory ------------------------------------------------

# A fresh emulated machine on a virtual clock, with the recording
# pre-processor on its C: drive.
new_machine() {
  local dir=$1
  "$machine_tool" --machine "$dir" init --virtual-clock >/dev/null || return 1
  mkdir -p "$dir/drive_c/mvt"
  cp "$work/record_call" "$dir/drive_c/mvt/record_call.exe"
}

# A Wine prefix of its own, copied from the booted base prefix, with a
# persistent server so that its services live between one command and the next.
new_prefix() {
  local dir=$1 f
  cp -al "$wine_base_prefix" "$dir" || return 1
  for f in "$dir"/*.reg; do cp --remove-destination "$wine_base_prefix/${f##*/}" "$f"; done
  mkdir -p "$dir/drive_c/mvt"
  cp "$wine_programs/record_call.exe" "$dir/drive_c/mvt/"
  wine_env "$dir" wineserver -p
}

# fleet_inventory N: N hosts h01.. each on its own machine; l1..l4 sharing the
# machine shared1 and l5..l7 sharing shared2, each of them its own product.
fleet_inventory() {
  local n=$1 i name
  mkdir -p "$work/machines"
  {
    echo "[fleet]"
    for ((i = 1; i <= n; i++)); do
      printf -v name 'h%02d' "$i"
      new_machine "$work/machines/$name" || return 1
      echo "$name kota_component_machine=$work/machines/$name"
    done
    echo
    echo "[lock1]"
    new_machine "$work/machines/shared1" && new_machine "$work/machines/shared2" || return 1
    for i in 1 2 3 4; do echo "l$i kota_component_machine=$work/machines/shared1 host_product=LOCK$i"; done
    echo "[lock2]"
    for i in 5 6 7; do echo "l$i kota_component_machine=$work/machines/shared2 host_product=LOCK$i"; done
    echo "[odd]"
    for i in 1 2 3; do echo "x$i kota_component_machine=$work/machines/x$i"; done
    echo
    echo "[emulated:children]"
    echo "fleet"
    echo "lock1"
    echo "lock2"
    echo "odd"
    echo
    echo "[emulated:vars]"
    echo "kota_component_platform=emulated"
    echo "release_root=$work/releases/posix"
    echo
    echo "[all:vars]"
    echo "ansible_connection=local"
    echo "ansible_python_interpreter=/usr/bin/python3"
    echo "kota_component_machine_tool=$machine_tool"
    echo "kota_component_status_tool=$status_tool"
    echo "kota_component_busy_delay=0"
  } >"$work/inventory.ini"
}

# w1 and w2, each on a Wine prefix of its own, added to the inventory.
add_wine_hosts() {
  local i
  {
    echo
    echo "[wine]"
    for i in 1 2; do
      new_prefix "$work/machines/w$i" || return 1
      echo "w$i kota_component_platform=wine kota_component_wine_prefix=$work/machines/w$i release_root=$work/releases/windows"
    done
  } >>"$work/inventory.ini"
}

# The machine behind an inventory host, and whether it is a Wine prefix.
machine_of() {
  case $1 in
    l[1-4]) echo "$work/machines/shared1" ;;
    l[5-7]) echo "$work/machines/shared2" ;;
    *) echo "$work/machines/$1" ;;
  esac
}

# --- plays -----------------------------------------------------------------------

# play NAME PLAYBOOK PATTERN [ansible-playbook arguments...]: runs a play and
# prints its summary line; the per-host results go to $work/last.txt
# ("host changed failed unreachable message") and the play's output to
# $work/plays/NAME.json.
plays_run=0
play() {
  local name=$1 book=$2 pattern=$3
  shift 3
  mkdir -p "$work/plays"
  local started=$SECONDS
  ansible-playbook -i "$work/inventory.ini" \
    -e "fleet_hosts=$pattern" "$here/plays/$book" "$@" >"$work/plays/$name.json" 2>"$work/plays/$name.err"
  play_status=$?
  plays_run=$((plays_run + 1))
  python3 "$here/summary.py" "$work/plays/$name.json" "$work/last-records.txt" "$work/last-warnings.txt" \
    "$work/last-plans.txt" \
    >"$work/last.txt" || {
    echo "play $name: no result ($(tail -3 "$work/plays/$name.err"))"
    check_failures=$((check_failures + 1))
    return 1
  }
  awk -v name="$name" -v took=$((SECONDS - started)) '
    { hosts++; changed += ($2 > 0); failed += ($3 > 0); unreachable += ($4 > 0) }
    END { printf "play %-28s hosts=%d changed=%d failed=%d unreachable=%d (%d s)\n", name, hosts, changed, failed, unreachable, took }
  ' "$work/last.txt"
}

# Hosts of the last play by what happened to them: changed, unchanged, failed.
hosts_where() {
  case $1 in
    changed) awk '$3 == 0 && $2 > 0 { print $1 }' "$work/last.txt" ;;
    unchanged) awk '$3 == 0 && $2 == 0 { print $1 }' "$work/last.txt" ;;
    failed) awk '$3 > 0 { print $1 }' "$work/last.txt" ;;
    ran) awk '{ print $1 }' "$work/last.txt" ;;
  esac | sort | tr '\n' ' ' | sed 's/ $//'
}
failure_message() { awk -v h="$1" '$1 == h { $1 = $2 = $3 = $4 = ""; sub(/^ +/, ""); print }' "$work/last.txt"; }

# --- the checker -------------------------------------------------------------------

# file_kind HOSTPATH: which release the installed file is a copy of (same
# contents and last-write time), "absent" or "other".
file_kind() {
  local file=$1 name=${1##*/} rel dir src
  [ -e "$file" ] || { echo absent; return; }
  for rel in rel1 rel2; do
    for dir in "$work/releases/posix/$rel" "$work/releases/windows/$rel"; do
      [ "$name" = mevrid.exe ] && src=$dir/mevrid.exe || src=$dir/nt_node/$name
      if cmp -s "$file" "$src" && [ "$(stat -c %Y "$file")" = "$(stat -c %Y "$src")" ]; then
        echo "$rel"
        return
      fi
    done
  done
  echo other
}

# summary MACHINE: one line for what the component looks like there:
#   refs=A,B version=4.0 vtrin=RUNNING files=rel1 pending=0 temp=0
# (temp: files the tool set aside under fresh names, and old files an
# all-or-nothing install kept aside, "NAME.mevrid-kept")
machine_summary() {
  local m=$1 refs version vtrin pending files f kinds=() temp
  if [ -f "$m/machine.db" ]; then
    local export
    export=$("$machine_tool" --machine "$m" reg export "$kota_key" 2>/dev/null | tr -d '\r')
    refs=$(sed -n 's/^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\\([^]\\]*\)\]$/\1/p' <<<"$export" | sort | paste -sd, -)
    version=$(sed -n 's/^"Version"="\(.*\)"$/\1/p' <<<"$export")
    vtrin=$("$machine_tool" --machine "$m" service query vtrin 2>/dev/null | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p')
    pending=$("$machine_tool" --machine "$m" reg export "$session_key" 2>/dev/null | grep -c '^"PendingFileRenameOperations"=')
    temp=$("$machine_tool" --machine "$m" files 'C:\' 2>/dev/null | grep -ciE '([\\]s[0-9a-v]+(\.[0-9a-v]*)?|\.mevrid-kept)$')
  else
    # A Wine prefix: its own reg and sc. Wine's device host does not load
    # the driver from a relative image path, so only its definition counts.
    refs=$(wine_env "$m" wine reg query "$kota_key\\References" 2>/dev/null | tr -d '\r' |
      sed -n 's/^HKEY_LOCAL_MACHINE\\.*\\References\\\(.*\)$/\1/p' | sort | paste -sd, -)
    version=$(wine_env "$m" wine reg query "$kota_key\\CurrentVersion" /v Version 2>/dev/null | tr -d '\r' |
      sed -n 's/^ *Version *REG_SZ *//p')
    vtrin=$(wine_env "$m" wine sc query vtrin 2>/dev/null | grep -q SERVICE_NAME && echo DEFINED)
    pending=$(wine_env "$m" wine reg query "$session_key" /v PendingFileRenameOperations 2>/dev/null | grep -c PendingFileRename)
    temp=$( (find "$m/drive_c" -maxdepth 1 -type f -regextype egrep -iregex '.*/s[0-9a-v]+(\.[0-9a-v]*)?'
      find "$m/drive_c" -maxdepth 5 -type f -iname '*.mevrid-kept') | wc -l)
  fi
  for f in windows/mevrid.exe windows/system32/qelmot32.dll windows/system32/drivers/vtrin.sys; do
    kinds+=("$(file_kind "$(find "$m/drive_c" -maxdepth 4 -ipath "$m/drive_c/$f" -print -quit 2>/dev/null || true)")")
  done
  files=$(printf '%s\n' "${kinds[@]}" | sort -u | paste -sd/ -)
  [ -z "$files" ] && files=absent
  echo "refs=${refs:--} version=${version:--} vtrin=${vtrin:-absent} files=$files pending=$pending temp=$temp"
}

# expect HOSTS... -- LINE: every named host's machine must read LINE.
# Wine hosts' "vtrin=RUNNING" is read as "vtrin=DEFINED".
check_failures=0
expect() {
  local hosts=() line host want got
  while [ "$1" != -- ]; do hosts+=("$1"); shift; done
  line=$2
  for host in "${hosts[@]}"; do
    want=$line
    [[ $host == w* ]] && want=${want/vtrin=RUNNING/vtrin=DEFINED}
    got=$(machine_summary "$(machine_of "$host")")
    if [ "$got" != "$want" ]; then
      echo "  $host: machine reads \"$got\", expected \"$want\""
      check_failures=$((check_failures + 1))
    fi
  done
}

# the same for the last play: expect_play changed|unchanged|failed "HOSTS"
expect_play() {
  local got
  got=$(hosts_where "$1")
  if [ "$got" != "$2" ]; then
    echo "  $1 hosts: \"$got\", expected \"$2\""
    check_failures=$((check_failures + 1))
  fi
}

# The run record the role kept for a host in the last play:
# "outcome exit_status changed restart_required reboot_required".
record_of() {
  local got
  got=$(awk -v h="$1" '$1 == h { $1 = ""; sub(/^ /, ""); print }' "$work/last-records.txt")
  echo "${got:-no record}"
}
# expect_record "HOSTS" REFERENCE "outcome exit_status changed restart_required"
# (reboot_required is false unless a fifth word says otherwise; a sixth,
# rolled_back or rollback_failed, is what the task's result said of it).
expect_record() {
  local host got want=$3
  [ "$(wc -w <<<"$want")" -eq 4 ] && want="$want false"
  for host in $1; do
    got=$(record_of "$host")
    if [ "$got" != "$want" ]; then
      echo "  $host: record of $2 reads \"$got\", expected \"$want\""
      check_failures=$((check_failures + 1))
    fi
  done
}

# Host lists.
hosts_seq() { local p=$1 i; shift; for i in "$@"; do printf "$p%02d " "$i"; done | sed 's/ $//'; }
all_fleet() { hosts_seq h $(seq 1 "$fleet_size"); }
except() {
  local list=$1 drop=" $2 " h out=()
  for h in $list; do [[ $drop == *" $h "* ]] || out+=("$h"); done
  echo "${out[*]}"
}

# --- the README's walkthrough ------------------------------------------------------

# run_walkthrough: the sh blocks of deploy/ansible/README.md's walkthrough,
# as one script with KOTA in the run's directory and the engine's own
# settings (no ansible.cfg of the test), from the top of the repository.
# Its plays must say: every host changed, then none, then (check mode and
# the upgrade) every host with the plan "upgraded", then the removal; and
# both machines must be left clean, without the role's folder.
run_walkthrough() {
  local dir=$work/walkthrough script=$work/walkthrough.sh
  python3 - "$top/deploy/ansible/README.md" >"$script" <<'PY' || return 1
import re, sys
text = open(sys.argv[1]).read()
section = text.split("## Walkthrough", 1)[1].split("\n## ", 1)[0]
print("set -euo pipefail")
for block in re.findall(r"```sh\n(.*?)```", section, re.S):
    for line in block.splitlines():
        if not line.startswith("apt-get "):
            print(line)
PY
  (cd "$top" && env -u ANSIBLE_CONFIG -u ANSIBLE_COLLECTIONS_PATH KOTA="$dir" bash "$script") >"$work/walkthrough.log" 2>&1 || {
    tail -20 "$work/walkthrough.log"
    return 1
  }
  local recaps want=("changed" "unchanged" "changed" "changed" "changed") got
  recaps=$(awk '/^PLAY RECAP/ { n++ } n && / : ok=/ { split($0, f, "changed="); split(f[2], c, " "); print n, $1, (c[1] > 0 ? "changed" : "unchanged") }' \
    "$work/walkthrough.log")
  for i in 1 2 3 4 5; do
    got=$(awk -v n="$i" '$1 == n { print $3 }' <<<"$recaps" | sort -u | paste -sd, -)
    if [ "$got" != "${want[i - 1]}" ]; then
      echo "  walkthrough play $i: hosts $got, expected ${want[i - 1]}"
      return 1
    fi
  done
  if [ "$(grep -c '"outcome": "upgraded"' "$work/walkthrough.log")" -ne 2 ]; then
    echo "  walkthrough: check mode did not plan \"upgraded\" on both hosts"
    return 1
  fi
  local m line
  for m in emu01 emu02; do
    line=$(machine_summary "$dir/machines/$m")
    if [ "$line" != 'refs=- version=- vtrin=absent files=absent pending=0 temp=0' ] ||
      [ -e "$dir/machines/$m/drive_c/ProgramData/KelmKOTA/DEMOPRODUCT" ]; then
      echo "  walkthrough: $m left as \"$line\" $(ls "$dir/machines/$m/drive_c/ProgramData/KelmKOTA" 2>/dev/null)"
      return 1
    fi
  done
}

# The fleet scenarios, run in this order on one inventory (lib.sh); each
# play is followed by a reading of every machine it touched.
# shellcheck disable=SC2154  # work, fleet_size, machine_tool: run.sh's

scenarios=(check_mode rollout again check_upgrade faults second_product lock in_use_removal odd_hosts)

installed() { echo "refs=$1 version=4.0 vtrin=RUNNING files=$2 pending=0 temp=0"; }
clean='refs=- version=- vtrin=absent files=absent pending=0 temp=0'

mt() { "$machine_tool" --machine "$(machine_of "$1")" "${@:2}"; }

# Every failed host's message names the Win32 error its record holds.
expect_message() {
  local host=$1 text=$2 got
  got=$(failure_message "$host")
  if [[ $got != *"$text"* ]]; then
    echo "  $host: failure message \"$got\" does not contain \"$text\""
    check_failures=$((check_failures + 1))
  fi
}

# Check mode: mevrid-status plans an install everywhere, in the tool's
# environment, where the role turns the all-or-nothing mode on; nothing
# changes.
scenario_check_mode() {
  if [ ! -x "$status_tool" ]; then
    echo "  mevrid-status not built: check mode not tried"
    return
  fi
  play check-mode product.yml fleet -e product=PRODA --check
  expect_play changed "$(all_fleet)"
  expect_plan "$(all_fleet)" installed on
  expect $(all_fleet) -- "$clean"
}

# The role's folder for a product on each host's machine: present or absent.
expect_folders() {
  local h dir got
  for h in $1; do
    dir=$(machine_of "$h")/drive_c/ProgramData/KelmKOTA/$2
    [ -e "$dir" ] && got=present || got=absent
    if [ "$got" != "$3" ]; then
      echo "  $h: $dir is $got, expected $3"
      check_failures=$((check_failures + 1))
    fi
  done
}

# How many times the play NAME ran the tool on each host (the busy retries).
expect_attempts() {
  local h got
  for h in $1; do
    got=$(python3 - "$work/plays/$3.json" "$h" <<'PY'
import json, sys
text = open(sys.argv[1]).read()
data = json.loads(text[text.index("{"):])
for play in data["plays"]:
    for task in play["tasks"]:
        result = task["hosts"].get(sys.argv[2], {})
        if task["task"]["name"].endswith("Run mevrid on the staged release") and "attempts" in result:
            print(result["attempts"])
PY
)
    got=$(tail -1 <<<"$got")
    if [ "$got" != "$2" ]; then
      echo "  $h: the tool ran ${got:-0} times, expected $2"
      check_failures=$((check_failures + 1))
    fi
  done
}

# 1. Roll-out of one product: every host changed, the component and the
# reference on every machine.
scenario_rollout() {
  play rollout product.yml fleet -e product=PRODA
  expect_play changed "$(all_fleet)"
  expect $(all_fleet) -- "$(installed PRODA rel1)"
  expect_record "$(all_fleet)" PRODA "installed 0 true false"
}

# 2. The same play again changes nothing.
scenario_again() {
  play again product.yml fleet -e product=PRODA
  expect_play unchanged "$(all_fleet)"
  expect $(all_fleet) -- "$(installed PRODA rel1)"
  expect_record "$(all_fleet)" PRODA "registered 0 false false"
}

# Check mode over a new release predicts the upgrade and changes nothing.
# The mode turned off, as a YAML boolean (which the role reads as 'off'),
# the plan does not say it.
scenario_check_upgrade() {
  play check-upgrade product.yml fleet -e product=PRODA -e release=rel2 --check \
    -e '{"kota_component_environment": {"MEVRID_ROLLBACK": false}}'
  expect_play changed "$(all_fleet)"
  expect_plan "$(all_fleet)" upgraded off
  expect $(all_fleet) -- "$(installed PRODA rel1)"
}

# The outcome each host's plan in the last play announced, and whether it
# said that the all-or-nothing mode is on (on: "rollback": true; off: no
# such key).
expect_plan() {
  local h plan said
  for h in $1; do
    plan=$(grep "^$h .*\"outcome\": \"$2\"" "$work/last-plans.txt")
    [[ $plan == *'"rollback": true'* ]] && said=on || said=off
    if [ -z "$plan" ]; then
      echo "  $h: no plan with outcome $2"
      check_failures=$((check_failures + 1))
    elif [ "$said" != "$3" ]; then
      echo "  $h: the plan says the rollback mode is $said, expected $3: $plan"
      check_failures=$((check_failures + 1))
    fi
  done
}

# The recording pre-processor's last two calls on each host: the product
# told "-e", then "-b".
expect_told_back() {
  local h got
  for h in $1; do
    got=$(tail -2 "$(machine_of "$h")/drive_c/mvt/calls.log" 2>/dev/null | cut -d' ' -f1,2 | paste -sd' ' -)
    if [ "$got" != "$2 -e $2 -b" ]; then
      echo "  $h: the last calls of the pre-processor are \"$got\", expected \"$2 -e $2 -b\""
      check_failures=$((check_failures + 1))
    fi
  done
}

# 3. An upgrade (rel2) with faults on three hosts, in the all-or-nothing
# mode the role turns on: a library copy refused (ERROR_SHARING_VIOLATION)
# on h07, a driver copy refused (ERROR_ACCESS_DENIED) on h09, a driver
# service that cannot be created because the old one is still marked for
# deletion (ERROR_SERVICE_MARKED_FOR_DELETE) on h14. h07 and h09 are put
# back as they were (rel1, the driver running, PRODA told "-b" again, no
# kept-aside file); on h14 putting the driver service back fails the same
# way, so the change stays for the next run. In batches of five the play
# stops after h07's and h09's batch (two of five failed): h11 and later
# keep rel1. Without batches exactly the three fail, each with its record's
# Win32 code in the message; once the faults are cleared the next play
# finishes h14's change and upgrades the rest.
scenario_faults() {
  mt h07 fault add CopyFileA --match qelmot32 --error 32 --always >/dev/null
  mt h09 fault add CopyFileA --match vtrin.sys --error 5 --always >/dev/null
  mt h14 fault add CreateServiceA --match vtrin --error 1072 --always >/dev/null
  local first rest faulty="h07 h09 h14"
  first=$(hosts_seq h $(seq 1 10))
  rest=$(hosts_seq h $(seq 11 "$fleet_size"))

  play batches batches.yml fleet -e product=PRODA -e release=rel2
  expect_play ran "$first"
  expect_play failed "h07 h09"
  expect_play changed "$(except "$first" "h07 h09")"
  expect $(except "$first" "h07 h09") -- "$(installed PRODA rel2)"
  expect h07 h09 $rest -- "$(installed PRODA rel1)"

  play faults product.yml fleet -e product=PRODA -e release=rel2
  expect_play failed "$faulty"
  expect_play changed "$(except "$rest" h14)"
  expect_message h07 "CopyFileA error 32 "
  expect_message h09 "CopyFileA error 5 "
  expect_message h14 "CreateServiceA error 1072 "
  expect_message h07 "the install failed at the step copy and the machine was put back as it was before the run;"
  expect_message h14 "putting the machine back failed too"
  expect_record "h07 h09" PRODA "rolled-back 1603 true false false rolled_back"
  expect_record h14 PRODA "failed 1603 true false false rollback_failed"
  expect h07 h09 -- "$(installed PRODA rel1)"
  expect_told_back "h07 h09" PRODA
  expect $(except "$(all_fleet)" "$faulty") -- "$(installed PRODA rel2)"

  local h
  for h in $faulty; do mt "$h" fault clear >/dev/null; done
  play repair product.yml fleet -e product=PRODA -e release=rel2
  expect_play changed "$faulty"
  expect_play unchanged "$(except "$(all_fleet)" "$faulty")"
  expect $(all_fleet) -- "$(installed PRODA rel2)"
}

# 4. A second product only registers: changed (its reference is new), but no
# file copied and no service touched, as the machines' call counts show.
scenario_second_product() {
  local h
  for h in $(all_fleet); do mt "$h" calls on >/dev/null; done
  play second-product product.yml fleet -e product=PRODB -e release=rel2
  expect_play changed "$(all_fleet)"
  expect $(all_fleet) -- "$(installed PRODA,PRODB rel2)"
  expect_record "$(all_fleet)" PRODB "registered 0 true false"
  for h in $(all_fleet); do
    if mt "$h" calls show | grep -qE '^(CopyFileA|DeleteFileA|MoveFileExA|CreateServiceA|DeleteService|StartServiceA|ControlService) '; then
      echo "  $h: the registration touched files or services: $(mt "$h" calls show | tr '\n' ' ')"
      check_failures=$((check_failures + 1))
    fi
    mt "$h" calls off >/dev/null
  done
}

# 5. Four hosts on one machine at once: the install lock serialises them and
# every reference arrives. Three hosts on another machine whose lock is held,
# with a lock timeout: each gives up busy (1618) on every one of its tries,
# and the retry, one host at a time, succeeds.
scenario_lock() {
  play lock product.yml lock1
  expect_play changed "l1 l2 l3 l4"
  expect l1 -- "$(installed LOCK1,LOCK2,LOCK3,LOCK4 rel1)"

  local lock_fd
  exec {lock_fd}>"$work/machines/shared2/install.lock"
  flock -x "$lock_fd"
  play lock-busy product.yml lock2 -e kota_component_lock_timeout=0 -e kota_component_busy_retries=2
  flock -u "$lock_fd"
  exec {lock_fd}>&-
  expect_play failed "l5 l6 l7"
  local h
  for h in l5 l6 l7; do expect_message "$h" "exit status 1618"; done
  expect_record "l5 l6 l7" LOCK5 "busy 1618 false false"
  expect_attempts "l5 l6 l7" 2 lock-busy
  expect l5 -- "$clean"

  # One host at a time: on a virtual clock a bounded wait gives up after a
  # single retry, so hosts of one machine racing each other could still
  # run out.
  play lock-retry product.yml lock2 -e kota_component_lock_timeout=0 --forks 1
  expect_play changed "l5 l6 l7"
  expect l5 -- "$(installed LOCK5,LOCK6,LOCK7 rel1)"
}

# 6 and 7. The second product goes (its reference only), then the first: the
# component goes everywhere. On h03 and h09 the driver will not stop
# (ERROR_INVALID_SERVICE_CONTROL), so its file and service are left for the
# next restart; the record asks for one, the handler restarts the machine,
# and nothing is left after it. The same removal again changes nothing.
scenario_in_use_removal() {
  play remove-second product.yml fleet -e product=PRODB -e state=absent
  expect_play changed "$(all_fleet)"
  expect_record "$(all_fleet)" PRODB "removed-reference 0 true false"
  expect $(all_fleet) -- "$(installed PRODA rel2)"

  local in_use="h03 h09" h
  for h in $in_use; do mt "$h" fault add ControlService --match vtrin --error 1052 --always >/dev/null; done
  play remove-last product.yml fleet -e product=PRODA -e state=absent
  expect_play failed "$in_use"
  expect_play changed "$(except "$(all_fleet)" "$in_use")"
  for h in $in_use; do expect_message "$h" "ControlService error 1052"; done
  expect_record "$in_use" PRODA "failed 1603 true true"
  expect_record "$(except "$(all_fleet)" "$in_use")" PRODA "removed-component 0 true false"
  expect $(all_fleet) -- "$clean"
  expect_folders "$(except "$(all_fleet)" "$in_use")" PRODA absent
  expect_folders "$in_use" PRODA present

  # Once the driver stops, the same removal finds no reference and takes
  # the folder the failed one kept.
  for h in $in_use; do mt "$h" fault clear >/dev/null; done
  play remove-again product.yml fleet -e product=PRODA -e state=absent
  expect_play changed "$in_use"
  expect_play unchanged "$(except "$(all_fleet)" "$in_use")"
  expect $(all_fleet) -- "$clean"
  expect_folders "$(all_fleet)" PRODA absent
}

# 8. Two hosts running the Windows build under Wine, a prefix each, through
# the same role: the same plays leave the same records and machines.
scenario_wine() {
  add_wine_hosts || { echo "  no Wine prefixes"; check_failures=$((check_failures + 1)); return; }
  play wine-rollout product.yml wine -e product=PRODA
  expect_play changed "w1 w2"
  expect w1 w2 -- "$(installed PRODA rel1)"
  expect_record "w1 w2" PRODA "installed 0 true false"
  play wine-again product.yml wine -e product=PRODA
  expect_play unchanged "w1 w2"
  play wine-second product.yml wine -e product=PRODB
  expect_play changed "w1 w2"
  expect_record "w1 w2" PRODB "registered 0 true false"
  expect w1 w2 -- "$(installed PRODA,PRODB rel1)"
  play wine-remove-second product.yml wine -e product=PRODB -e state=absent
  expect_record "w1 w2" PRODB "removed-reference 0 true false"
  play wine-remove-last product.yml wine -e product=PRODA -e state=absent
  expect_play changed "w1 w2"
  expect_record "w1 w2" PRODA "removed-component 0 true false"
  expect w1 w2 -- "$clean"
}

# Hosts that are set up wrongly or run into trouble, each failing with the
# cause in its message: check mode on a machine never initialised, a run
# whose machine cannot be opened (no record), a removal with a wrong
# mevrid-machine path. A successful upgrade whose pre-processor cannot be
# started warns with each error. A removal that needs a restart with
# kota_component_reboot=false leaves the restart to later plays.
scenario_odd_hosts() {
  mkdir -p "$work/machines/x1" && echo "not a database" >"$work/machines/x1/machine.db"
  new_machine "$work/machines/x3" || return

  play odd-check product.yml x2 -e product=PRODA --check
  expect_play failed x2
  expect_message x2 "mevrid-status made no plan (exit status 1): mevrid-status: no machine at $work/machines/x2"

  play odd-no-record product.yml x1 -e product=PRODA
  expect_play failed x1
  expect_message x1 "mevrid left no record (exit status 1): mevrid: emulated machine unavailable: $work/machines/x1/machine.db"

  play odd-install product.yml x3 -e product=PRODA -e 'preprocessor=C:\mvt\missing.exe'
  expect_play changed x3
  play odd-warn product.yml x3 -e product=PRODA -e 'preprocessor=C:\mvt\missing.exe' -e release=rel2
  expect_play changed x3
  expect_record x3 PRODA "upgraded 0 true false"
  local n
  n=$(grep -c '^x3 mevrid install PRODA: upgraded with an error: \[notify-.*: CreateProcessA error 2 ' "$work/last-warnings.txt")
  if [ "$n" -lt 2 ]; then
    echo "  x3: $n warnings of the pre-processor's errors, expected one each for \"-e\" and \"-b\""
    check_failures=$((check_failures + 1))
  fi

  play odd-tool-path product.yml x3 -e product=PRODA -e state=absent -e kota_component_machine_tool=/nonexistent/mevrid-machine
  expect_play failed x3
  expect_message x3 "PRODA: no program at /nonexistent/mevrid-machine on the host"

  mt x3 fault add ControlService --match vtrin --error 1052 --always >/dev/null
  play odd-no-reboot product.yml x3 -e product=PRODA -e state=absent -e kota_component_reboot=false
  expect_play failed x3
  expect_record x3 PRODA "failed 1603 true true true"
  if machine_summary "$work/machines/x3" | grep -q ' pending=0 '; then
    echo "  x3: restarted although kota_component_reboot=false"
    check_failures=$((check_failures + 1))
  fi
}

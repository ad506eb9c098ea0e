# The Wine suite's scenarios. Each is a function scenario_<name> that seeds a
# fresh machine, runs the tool, and shows the machine's state, through the
# verbs of lib.sh; run.sh runs each on a Wine prefix (compared with
# expected/<name>.txt) and on an emulated machine (compared with the Wine
# transcript, apart from the divergences each scenario names).
#
# Service timings are real under Wine: a stop or start that takes 1500 ms is
# seen by the tool's one-second polls as two dots, with half a second of
# margin either way.

scenarios=(
  usage
  agent_stop
  agent_start
  agent_stop_refused
  agent_start_fails
  agent_dependents
  install_first
  install_upgrade_notifies
  install_seeded_references
  install_copy_failure
  remove_one_then_last
  remove_by_installed_copy
  older_node_refused_then_g
  older_node_g_rerun
  older_node_33_station
  deploy_targets
  rollback_copy_held
  rollback_driver_refused
)

# The suite's agents, as the tool names them.
agent_services=(brunol32 Tobrael Gandrel2Service "Kelm Baseboard Agent" "Kelm Local Response Agent")

recorder() { printf 'C:\\mvt\\record_call.exe %s' "$1"; }

# Bad command lines, "-o", and the agent modes on a machine without agents.
scenario_usage() {
  run_tool
  run_tool -x
  run_tool -q -x
  run_tool /?
  run_tool -k
  run_tool -k -r
  run_tool -k ProdA
  run_tool -k ProdA -p ""
  run_tool -q -k ProdA
  run_tool -o
  run_tool -o -x
  run_tool -x -o
  run_tool /O -k ProdA -p "$(recorder PRODA)"
  run_tool -e
  run_tool -q -b
  run_tool -k ProdA -r
  show_state
}

# "-e": the node agents go silently first, then the server agent, whose stop
# takes 1500 ms (two polls); a second "-e" finds it stopped.
scenario_agent_stop() {
  seed_service brunol32 "Kelm Wardhaven Server Agent" --state running --stop-ms 1500
  seed_service Tobrael Tobrael --state running
  seed_service Gandrel2Service Gandrel2Service
  seed_service "Kelm Baseboard Agent" "Kelm Baseboard Agent" --state running
  run_tool -e -b -k ProdA -p "$(recorder PRODA)"
  show_service_log
  run_tool -e
  run_tool -q -e
  show_state "${agent_services[@]}"
}

# "-b": the server agent (start 1500 ms), then Tobrael and Gandrel2Service
# silently; the other two node agents are never started.
scenario_agent_start() {
  seed_service brunol32 "Kelm Wardhaven Server Agent" --start-ms 1500
  seed_service Tobrael Tobrael
  seed_service Gandrel2Service Gandrel2Service
  seed_service "Kelm Baseboard Agent" "Kelm Baseboard Agent"
  seed_service "Kelm Local Response Agent" "Kelm Local Response Agent"
  run_tool -b
  show_service_log
  run_tool /B
  show_state "${agent_services[@]}"
}

# A server agent that does not accept the stop control: "-e" ends with 1.
scenario_agent_stop_refused() {
  seed_service brunol32 "Kelm Wardhaven Server Agent" --state running --refuse-stop
  run_tool -e
  run_tool -q -e
  show_services brunol32
}

# A server agent whose start fails after 1500 ms start-pending: "-b" ends
# with 1; Tobrael, started silently, fails too without a word.
scenario_agent_start_fails() {
  seed_service brunol32 "Kelm Wardhaven Server Agent" --start-fails --start-ms 1500
  seed_service Tobrael Tobrael --start-fails
  seed_service Gandrel2Service Gandrel2Service
  run_tool -b
  show_service_log
  show_services brunol32 Tobrael Gandrel2Service
}

# A server agent with a running dependent. Windows and the emulation stop
# the dependent first; Wine 8 enumerates no dependents and stops the agent
# under it.
scenario_agent_dependents() {
  seed_service brunol32 "Kelm Wardhaven Server Agent" --state running --stop-ms 1500
  seed_service KelmHelper "Kelm Agent Helper" --state running --depends brunol32
  run_tool -e
  show_service_log
  show_services brunol32 KelmHelper
  diverge_section '^## run: mevrid.exe -e$' \
    "Wine's EnumDependentServicesA returns no dependents, so no line for the dependent is printed"
  diverge_line '^KelmHelper: ' "Wine's service manager stops a service whose dependent still runs"
}

# A first install on a clean machine, the same install again (current: only
# the reference), and a quiet install of a second product.
scenario_install_first() {
  run_tool -k ProdA -p "$(recorder PRODA)"
  show_state
  run_tool -k ProdA -p "$(recorder PRODA)"
  run_tool -q -k prodb -p "$(recorder PRODB)"
  show_state
}

# Two products installed; a newer library in the release directory makes the
# next install replace the component, telling both products "-e" before and
# "-b" after; a quiet upgrade adds " -q".
scenario_install_upgrade_notifies() {
  run_tool -q -k ProdA -p "$(recorder PRODA)"
  run_tool -q -k ProdB -p "$(recorder PRODB)"
  release_edit touch 'nt_node\qelmot32.dll' '2030-01-01 00:00:00'
  run_tool -k ProdC -p "$(recorder PRODC)"
  show_state
  release_edit touch 'mevrid.exe' '2030-01-02 00:00:00'
  run_tool -q -k ProdC -p "$(recorder PRODC)"
  show_calls
}

# References put into the registry by other means (reg import, reg add): one
# in regedit's REG_SZ form, one without an image, one whose program does not
# exist, one whose image uses %SystemRoot%. The install notifies each in the
# registry's order and passes over those it cannot run.
scenario_install_seeded_references() {
  seed_reg references.reg
  seed_file 'C:\windows\record_call.exe' "$machine/drive_c/mvt/record_call.exe"
  seed_reg_add 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\References\SEEDED' \
    /v PreProcImage /t REG_EXPAND_SZ /d '%SystemRoot%\record_call.exe SEEDED'
  run_tool -k ProdA -p "$(recorder PRODA)"
  show_state
  section "calls (C:\\windows)"
  crlf_to_lf <"$(host_path 'C:\windows\calls.log')" >>"$transcript" 2>/dev/null || say none
}

# A release directory without nt_node\: the tool's copy succeeds, the
# library's fails; nothing is registered.
scenario_install_copy_failure() {
  release_edit remove 'nt_node'
  run_tool -k ProdA -p "$(recorder PRODA)"
  show_state
}

# Removing one of two references touches nothing else; removing the last one
# removes the component; removing it again fails.
scenario_remove_one_then_last() {
  run_tool -q -k ProdA -p "$(recorder PRODA)"
  run_tool -q -k ProdB -p "$(recorder PRODB)"
  run_tool -k proda -r
  show_state
  run_tool -k PRODB -r -p ignored
  show_state
  run_tool -k ProdB -r
  run_tool -q -k ProdB -r
}

# The last reference removed by the installed copy itself (the uninstaller
# in the Windows directory): its own image cannot be deleted while it runs,
# so it is moved to a temporary name in the root of C: and deleted at the
# next restart.
scenario_remove_by_installed_copy() {
  run_tool -q -k ProdA -p "$(recorder PRODA)"
  run_tool --cwd 'C:\windows' -k ProdA -r
  show_state
  machine_reboot
  section "after restart"
  show_registry
  show_files
}

# An older managed node (3.2.1, older registration): an install is refused
# without "-g"; with "-g" the node's services are stopped, its old library
# and driver deleted, the component installed with the legacy reference, and
# the services started again. Once the node no longer counts as older, the
# removal of the product drops the legacy reference and the component.
scenario_older_node_refused_then_g() {
  seed_reg older_node_321.reg
  seed_file 'C:\windows\system32\qelmot32.dll' "$seeds_dir/old_qelmot32.txt" '2001-01-01 00:00:00'
  seed_file 'C:\windows\system32\drivers\vtrin.sys' "$machine/drive_c/release/nt_node/vtrin.sys" '2001-01-01 00:00:00'
  seed_driver_service vtrin 'System32\drivers\vtrin.sys' --state running
  seed_service "Kelm Baseboard Agent" "Kelm Baseboard Agent" --state running --stop-ms 1500
  seed_service Tobrael Tobrael --state running
  seed_service SNMP SNMP --state running
  seed_service win32sl "Win32 DMI Service Layer" --state running
  run_tool -k ProdA -p "$(recorder PRODA)"
  run_tool -q -k ProdA -p "$(recorder PRODA)"
  show_state
  run_tool -g -k ProdA -p "$(recorder PRODA)"
  show_service_log
  show_state "Kelm Baseboard Agent" Tobrael SNMP win32sl
  # The node is upgraded: its registration goes.
  seed_reg_delete 'HKLM\SOFTWARE\Kelm\KelmZAQ'
  run_tool -k ProdA -r
  show_state
}

# A "-g" run on a 3.2.1 node that ended after the old driver service was
# deleted and before the new one was created (seeded as it leaves the
# machine, since Wine cannot end the tool at a chosen call): version 4.0
# recorded with the install's marker, the new files copied, no driver
# service, no reference, the node's services stopped. The missing driver's
# stop does not end the run: the same command again finishes the install,
# registers the legacy reference and starts the services.
scenario_older_node_g_rerun() {
  seed_reg older_node_321.reg
  seed_reg_add 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA' /v ChangeInProgress /d Install
  seed_reg_add 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\CurrentVersion' /v Version /d 4.0
  seed_reg_add 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\CurrentVersion' /v UnInstallImage \
    /t REG_EXPAND_SZ /d 'C:\windows\mevrid.exe'
  seed_file 'C:\windows\mevrid.exe' "$machine/drive_c/release/mevrid.exe"
  seed_file 'C:\windows\system32\qelmot32.dll' "$machine/drive_c/release/nt_node/qelmot32.dll"
  seed_file 'C:\windows\system32\drivers\vtrin.sys' "$machine/drive_c/release/nt_node/vtrin.sys"
  seed_service "Kelm Baseboard Agent" "Kelm Baseboard Agent"
  seed_service Tobrael Tobrael
  seed_service SNMP SNMP
  seed_service win32sl "Win32 DMI Service Layer"
  run_tool -g -k ProdA -p "$(recorder PRODA)"
  show_service_log
  show_state "Kelm Baseboard Agent" Tobrael SNMP win32sl
}

# "-g" on a 3.3 node (newer registration, library under the suite's program
# files) that is also an OpenView management station: the EMANATE services
# are stopped and started too.
scenario_older_node_33_station() {
  seed_reg older_node_33_station.reg
  seed_file 'C:\Program Files\Kelm\bin\qelmot32.dll' "$seeds_dir/old_qelmot32.txt" '2001-01-01 00:00:00'
  seed_file 'C:\windows\system32\drivers\vtrin.sys' "$machine/drive_c/release/nt_node/vtrin.sys" '2001-01-01 00:00:00'
  seed_driver_service vtrin 'System32\drivers\vtrin.sys'
  seed_service "Kelm Baseboard Agent" "Kelm Baseboard Agent" --state running
  seed_service SNMP SNMP --state running
  seed_service win32sl "Win32 DMI Service Layer" --state running
  seed_service wpa "SNMP EMANATE Adapter for NT" --state running --stop-ms 1500
  seed_service EMANATE "SNMP EMANATE Master Agent" --state running
  run_tool -g -k ProdA -p "$(recorder PRODA)"
  show_service_log
  show_registry
  show_services "Kelm Baseboard Agent" SNMP win32sl wpa EMANATE
  show_files 'C:\Program Files\Kelm\bin\qelmot32.dll|nt_node\qelmot32.dll'
}

# A record or a log named where no file of the run's own is: a file of other
# text, a directory, a device (NUL on Windows, /dev/null on POSIX). Each run
# prints what it prints without them; the document and the directory stay as
# they were, and the log says why the record was not written.
scenario_deploy_targets() {
  local notes='C:\deploy\notes.txt' dir='C:\deploy\dir' log='C:\deploy\run.log' device=NUL
  mkdir -p "$(host_path 'C:\deploy')" "$(host_path "$dir")"
  printf 'notes of mine\n' >"$(host_path "$notes")"
  target() { if [ "$backend" = posix ]; then host_path "$1"; else printf '%s' "$1"; fi; }
  [ "$backend" = posix ] && device=/dev/null
  run_tool --env "MEVRID_RESULT_FILE=$(target "$notes")" --env "MEVRID_LOG=$(target "$log")" \
    -k ProdA -p "$(recorder PRODA)"
  run_tool --env "MEVRID_RESULT_FILE=$(target "$dir")" --env "MEVRID_LOG=$(target "$dir")" -o
  run_tool --env "MEVRID_RESULT_FILE=$device" --env "MEVRID_LOG=$device" -o
  section "the document, the directory and the log"
  crlf_to_lf <"$(host_path "$notes")" >>"$transcript"
  ls -A "$(host_path "$dir")" >>"$transcript"
  grep -o 'record not written to .*' "$(host_path "$log")" | sed 's/^record not written to "[^"]*"/record not written to <target>/' \
    >>"$transcript"
  show_state
}


# All or nothing (MEVRID_ROLLBACK=on): an upgrade whose copy fails puts the
# component back as it was. Two products are installed and the driver runs
# from its installed file; an older tool and library in their places make the
# next install an upgrade, and a running process holds the installed driver
# open without delete sharing, so the driver, copied last, can be neither set
# aside nor replaced. The tool and the library, already replaced, get their old files
# back (bytes and times), the version key its values, the driver runs again
# from its old definition, both products are told "-b" after their "-e", and
# the new reference is not registered. The same command without the mode
# then fails as it always has: the earlier files stay replaced and no product
# is told "-b". The two consoles differ only by the "Starting:" lines of the
# products told "-b".
scenario_rollback_copy_held() {
  run_tool -q -k ProdA -p "$(recorder PRODA)"
  run_tool -q -k ProdB -p "$(recorder PRODB)"
  driver_service_running
  seed_file 'C:\windows\mevrid.exe' "$machine/drive_c/release/mevrid.exe" '2001-01-01 00:00:00'
  seed_file 'C:\windows\system32\qelmot32.dll' "$seeds_dir/old_qelmot32.txt" '2001-01-01 00:00:00'
  hold_file 'C:\windows\system32\drivers\vtrin.sys'
  remember_state
  run_tool --env MEVRID_ROLLBACK=on --env "MEVRID_RESULT_FILE=$(record_target)" -k ProdC -p "$(recorder PRODC)"
  local with_mode
  with_mode=$(console_of_last_run)
  show_run_record
  show_state
  show_against_remembered
  run_tool --env "MEVRID_RESULT_FILE=$(record_target)" -k ProdC -p "$(recorder PRODC)"
  show_console_difference "$with_mode" "$(console_of_last_run)"
  show_run_record
  show_state
}

# All or nothing on an older node (3.2.1) whose driver Wine really loads
# (\SystemRoot\ image path): "-g" with a release whose driver the system
# refuses to load. The node's services are stopped and its copies set aside
# as "-g" does; the new driver does not start where the old one ran, so the
# install is rolled back: the old library and driver are back with their
# times, no tool is left in the Windows directory, no component key, the old
# driver runs again from its old file and definition, the legacy reference is
# not registered, and the node's services are started again. Without the
# mode the same "-g" completes, as a driver that does not start never failed
# an install.
scenario_rollback_driver_refused() {
  local node_services=("Kelm Baseboard Agent" Tobrael SNMP win32sl)
  # Registered before any run, so it applies before the rewrite that
  # run.sh --deploy makes of the same start's failure.
  diverge_rewrite 's/\{"step":"start-driver","call":"StartServiceA","code":1114,"subject":"vtrin"\}/{"step":"start-driver","call":"StartServiceA","code":193,"subject":"vtrin"}/g' \
    "Wine's device host loads no relative image path: the new driver's start fails with 1114 before its image is read, where Windows refuses the image itself with 193"
  seed_reg older_node_321.reg
  seed_file 'C:\windows\system32\qelmot32.dll' "$seeds_dir/old_qelmot32.txt" '2001-01-01 00:00:00'
  seed_file 'C:\windows\system32\drivers\vtrin.sys' "$machine/drive_c/release/nt_node/vtrin.sys" '2001-01-01 00:00:00'
  seed_driver_service vtrin 'System32\drivers\vtrin.sys' --state running
  seed_service "Kelm Baseboard Agent" "Kelm Baseboard Agent" --state running
  seed_service Tobrael Tobrael --state running
  seed_service SNMP SNMP --state running
  seed_service win32sl "Win32 DMI Service Layer" --state running
  release_driver_refused
  show_driver_refused_by_wine
  remember_state "${node_services[@]}"
  run_tool --env MEVRID_ROLLBACK=on --env "MEVRID_RESULT_FILE=$(record_target)" -g -k ProdA -p "$(recorder PRODA)"
  show_run_record
  show_service_log
  show_state "${node_services[@]}"
  show_against_remembered "${node_services[@]}"
  release_driver_refused
  run_tool --env "MEVRID_RESULT_FILE=$(record_target)" -g -k ProdA -p "$(recorder PRODA)"
  show_run_record
  show_state "${node_services[@]}"
}

# Wine's own verdict on the release's driver, where it loads a driver at all
# (an absolute image path): a probe service on it does not start.
show_driver_refused_by_wine() {
  [ "$backend" = wine ] || return 0
  section "the release's driver started from an absolute path (wine only)"
  wine_env wine sc create vtrinprobe type= kernel start= demand binPath= 'C:\release\nt_node\vtrin.sys' >/dev/null 2>&1
  wine_env wine sc start vtrinprobe >/dev/null 2>&1
  say "sc start vtrinprobe: exit $?, $(service_state vtrinprobe)"
  wine_env wine sc delete vtrinprobe >/dev/null 2>&1
}

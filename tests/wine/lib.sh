# Machines for the Wine suite's scenarios, with two back ends behind one set
# of verbs, so one scenario script runs unchanged on both:
#
#   wine    a Wine prefix (copied from a freshly booted base prefix), seeded
#           with Wine's own reg and sc, services played by test_service.exe,
#           the tool run as "wine cmd /c mevrid.exe ..." from C:\release;
#   posix   an emulated machine of the POSIX build, seeded with
#           mevrid-machine's reg and service commands, the tool run as
#           "mevrid.exe ..." from the machine's C:\release.
#
# Both machines have the Windows directory C:\windows, the release directory
# C:\release (a private copy of the build's release directory) and the test
# programs in C:\mvt. Every verb writes what it observes to the transcript
# ($transcript), in sections that begin with "## ".
#
# Set before use: backend (wine|posix), machine (prefix or machine directory),
# transcript, and for wine: wine_base_prefix, wine_programs; for posix:
# posix_tool_release, posix_machine_tool, posix_record_call.
# shellcheck disable=SC2154  # those are the caller's

# --- small helpers -----------------------------------------------------------

say() { printf '%s\n' "$*" >>"$transcript"; }
section() { printf '## %s\n' "$*" >>"$transcript"; }

# CRLF to LF: the tool prints "\n" through the C runtime's text mode, which
# gives "\r\n" on Windows and "\n" on POSIX; everything else must match.
crlf_to_lf() { sed 's/\r$//'; }

# Host path of a Windows path on the machine's C: drive, matched
# case-insensitively component by component, as Windows looks names up.
# Prints the host path (the last component may be missing) and returns 1
# when a parent directory is missing.
host_path() {
  local win=$1 dir="$machine/drive_c" rest part found missing=""
  rest=${win#[Cc]:}
  rest=${rest#\\}
  IFS='\' read -r -a parts <<<"$rest"
  for part in "${parts[@]}"; do
    [ -z "$part" ] && continue
    if [ -z "$missing" ]; then
      found=$(find "$dir" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit 2>/dev/null)
      if [ -n "$found" ]; then
        dir=$found
        continue
      fi
    fi
    missing+=/$part
  done
  printf '%s%s\n' "$dir" "$missing"
  # Only the last component may be missing.
  [[ ${missing#/} != */* ]]
}

# The command line as an administrator would type it: arguments with blanks
# in double quotes.
quote_args() {
  local out="" a
  for a in "$@"; do
    if [[ $a == *" "* || -z $a ]]; then out+=" \"$a\""; else out+=" $a"; fi
  done
  printf '%s' "${out# }"
}

# --- machine life ------------------------------------------------------------

wine_env() {
  WINEPREFIX=$machine WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml=" \
    LANG=C LC_ALL=C "$@"
}
mt() { "$posix_machine_tool" --machine "$machine" "$@"; }

# A fresh machine with the release directory and the test programs on it.
machine_create() {
  starting=()
  case $backend in
    wine)
      # Hard links for the prefix's thousand files (nothing here writes to
      # them), real copies of the registry files, which wineserver rewrites.
      cp -al "$wine_base_prefix" "$machine" || return 1
      local f
      for f in "$machine"/*.reg; do cp --remove-destination "$wine_base_prefix/${f##*/}" "$f"; done
      # A persistent server keeps services.exe and the test services alive
      # between one wine command and the next.
      wine_env wineserver -p || return 1
      mkdir -p "$machine/drive_c/mvt" "$machine/drive_c/release"
      cp "$wine_programs/test_service.exe" "$wine_programs/record_call.exe" "$wine_programs/component_check.exe" \
        "$wine_programs/hold_file.exe" "$machine/drive_c/mvt/"
      cp -a "$wine_release/." "$machine/drive_c/release/"
      ;;
    posix)
      mt init --virtual-clock >/dev/null || return 1
      mkdir -p "$machine/drive_c/mvt" "$machine/drive_c/release"
      cp "$posix_record_call" "$machine/drive_c/mvt/record_call.exe"
      cp -a "$posix_tool_release/." "$machine/drive_c/release/"
      ;;
  esac
}

machine_destroy() {
  [ "$backend" = wine ] && wine_stop_server "$machine"
  [ -n "${keep_machines:-}" ] || rm -rf "$machine"
}

# Ends a prefix's server and removes the directory Wine made for its socket
# (/tmp/wine-XXXXXX/server-<device>-<inode>), which it leaves behind.
wine_stop_server() {
  local prefix=$1 dir
  [ -d "$prefix" ] || return 0
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  WINEPREFIX=$prefix wineserver -w 2>/dev/null
  for dir in /tmp/wine-*/"server-$(stat -c %D "$prefix")-$(printf %x "$(stat -c %i "$prefix")")"; do
    [ -d "$dir" ] || continue
    rm -rf "$dir"
    rmdir "${dir%/*}" 2>/dev/null
  done
  return 0
}

# A restart: deletions deferred to the next restart are carried out.
machine_reboot() {
  case $backend in
    wine)
      wine_env wineserver -k 2>/dev/null
      wine_env wineserver -w 2>/dev/null
      wine_env wineserver -p
      wine_env wine wineboot -r >/dev/null 2>&1
      ;;
    posix) mt reboot >/dev/null ;;
  esac || echo "machine_reboot failed" >&2
}

# --- seeding -------------------------------------------------------------------

# Imports a .reg file of tests/wine/seeds.
seed_reg() {
  local file=$seeds_dir/$1
  case $backend in
    wine)
      cp "$file" "$machine/drive_c/seed.reg"
      wine_env wine reg import 'C:\seed.reg' >/dev/null 2>&1 || echo "seed_reg: reg import $1 failed" >&2
      rm -f "$machine/drive_c/seed.reg"
      ;;
    posix) mt reg import "$file" >/dev/null || echo "seed_reg: reg import $1 failed" >&2 ;;
  esac
}

# reg add / reg delete with reg's own switches (/v, /t, /d, /s); /f is added.
seed_reg_add() {
  case $backend in
    wine) wine_env wine reg add "$@" /f >/dev/null 2>&1 ;;
    posix) mt reg add "$@" /f >/dev/null ;;
  esac || echo "seed_reg_add: reg add $* failed" >&2
}
seed_reg_delete() {
  case $backend in
    wine) wine_env wine reg delete "$@" /f >/dev/null 2>&1 ;;
    posix) mt reg delete "$@" /f >/dev/null ;;
  esac || echo "seed_reg_delete: reg delete $* failed" >&2
}

# A Win32 service played by test_service.exe:
#   seed_service NAME DISPLAY [--start-ms N] [--stop-ms N] [--state running]
#                [--start-fails] [--refuse-stop] [--depends A,B]
# Starts and stops take 500 ms unless told otherwise: a real service is never
# done at once, and half a second each side of the tool's first poll (one
# dot) keeps Wine's real timing as predictable as the emulation's clock.
seed_service() {
  local name=$1 display=$2 start_ms=500 stop_ms=500 state=stopped fails="" refuse="" depends=""
  shift 2
  while [ $# -gt 0 ]; do
    case $1 in
      --start-ms) start_ms=$2; shift 2 ;;
      --stop-ms) stop_ms=$2; shift 2 ;;
      --state) state=$2; shift 2 ;;
      --start-fails) fails=" fail-start"; shift ;;
      --refuse-stop) refuse=" refuse-stop"; shift ;;
      --depends) depends=$2; shift 2 ;;
      *) echo "seed_service: unknown option $1" >&2; return 1 ;;
    esac
  done
  local image="C:\\mvt\\test_service.exe start=$start_ms stop=$stop_ms$fails$refuse"
  case $backend in
    wine)
      wine_env wine sc create "$name" binPath= "$image" DisplayName= "$display" >/dev/null 2>&1 ||
        echo "seed_service: sc create $name failed" >&2
      # Wine's sc writes a DependOnService without its closing terminator,
      # so the list goes in with reg, as a .reg file would put it.
      [ -n "$depends" ] && seed_reg_add "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$name" \
        /v DependOnService /t REG_MULTI_SZ /s , /d "$depends"
      # Started now and waited for before the next run or look, so the
      # seeded services start side by side.
      if [ "$state" = running ]; then
        wine_env wine sc start "$name" >/dev/null 2>&1
        starting+=("$name")
      fi
      ;;
    posix)
      local args=(service add "$name" --display "$display" --image "$image" --start-ms "$start_ms"
        --stop-ms "$stop_ms" --state "$state")
      [ -n "$fails" ] && args+=(--start-fails)
      # A service that does not accept the stop control: ControlService
      # answers ERROR_INVALID_SERVICE_CONTROL.
      [ -n "$refuse" ] && args+=(--refuse-stop 1052)
      [ -n "$depends" ] && args+=(--depends "$depends")
      mt "${args[@]}" >/dev/null || echo "seed_service: service add $name failed" >&2
      ;;
  esac
}

# A kernel driver service of an older installation:
#   seed_driver_service NAME IMAGE_PATH [--state running]
# Wine's device host resolves only absolute or \SystemRoot\ image paths, so
# the Wine machine gets the \SystemRoot\ form of a relative path.
seed_driver_service() {
  local name=$1 image=$2 state=${4:-stopped}
  case $backend in
    wine)
      wine_env wine sc create "$name" type= kernel start= auto error= normal group= "Extended Base" \
        DisplayName= "$name" binPath= "\\SystemRoot\\$image" >/dev/null 2>&1 ||
        echo "seed_driver_service: sc create $name failed" >&2
      diverge_rewrite 's/^(vtrin config: ImagePath +[A-Z_]+ +)\\SystemRoot\\/\1/' \
        "the older node's driver is seeded with a \\SystemRoot\\ image path on Wine, whose device host loads no relative one"
      [ "$state" = running ] && wine_start_and_wait "$name"
      ;;
    posix)
      mt service add "$name" --display "$name" --driver --image "$image" --start auto --group "Extended Base" \
        --state "$state" >/dev/null || echo "seed_driver_service: service add $name failed" >&2
      ;;
  esac
}

# sc start, then wait until the service runs.
wine_start_and_wait() {
  wine_env wine sc start "$1" >/dev/null 2>&1
  starting+=("$1")
  settle_services
}

# Waits (real time, a few seconds at most) until every service the seeding
# started is running.
starting=()
settle_services() {
  local name i
  for name in "${starting[@]}"; do
    for ((i = 0; i < 50; i++)); do
      [ "$(service_state "$name")" = RUNNING ] && break
      sleep 0.1
    done
    [ $i -eq 50 ] && echo "seed: service $name did not reach RUNNING" >&2
  done
  starting=()
}

# A running process holds an installed file open for reading, sharing reads
# only, as a virus scanner or a backup agent does: the file can be read, but
# not written over, renamed or deleted while it runs.
#   hold_file WINPATH
# On Wine, tests/wine/programs/hold_file.exe holds it until the machine's end.
# The emulation keeps no handles across processes, so there the refusals a
# holder causes are the machine's faults: a sharing violation for every copy
# over, rename or deletion of that path.
hold_file() {
  local win=$1 ready i
  case $backend in
    wine)
      ready=$(host_path 'C:\mvt\held.ready')
      rm -f "$ready"
      (wine_env wine 'C:\mvt\hold_file.exe' "$win" 'C:\mvt\held.ready' >/dev/null 2>&1 &)
      for ((i = 0; i < 100; i++)); do
        [ -e "$ready" ] && break
        sleep 0.1
      done
      [ -e "$ready" ] || echo "hold_file: $win is not held" >&2
      ;;
    posix)
      local operation
      for operation in CopyFileA MoveFileA MoveFileExA DeleteFileA; do
        mt fault add "$operation" --match "$win" --error ERROR_SHARING_VIOLATION --always >/dev/null ||
          echo "hold_file: fault add $operation failed" >&2
      done
      ;;
  esac
}

# The driver service the tool created, running from its installed file. On
# Wine, whose device host loads no relative image path and whose sc has no
# "config", the service is defined again as the tool defines it but with the
# \SystemRoot\ form of the path (as an older node's is seeded), and started;
# the emulation runs it already.
driver_service_running() {
  [ "$backend" = wine ] || return 0
  wine_env wine sc delete vtrin >/dev/null 2>&1 || echo "driver_service_running: sc delete vtrin failed" >&2
  seed_driver_service vtrin 'System32\drivers\vtrin.sys' --state running
}

# The release's driver one the system refuses to load: not an executable
# image at all, which Windows refuses with ERROR_BAD_EXE_FORMAT (193). The
# emulation starts any driver whose file exists, so there the next start of
# vtrin is refused with that code by a fault.
release_driver_refused() {
  printf 'not a driver image\r\n' >"$machine/drive_c/release/nt_node/vtrin.sys"
  [ "$backend" = posix ] && { mt fault add StartServiceA --match vtrin --error 193 >/dev/null ||
    echo "release_driver_refused: fault add failed" >&2; }
  return 0
}

# Puts a host file at a Windows path with a last-write time (touch -d syntax).
seed_file() {
  local win=$1 source=$2 when=${3:-}
  local host
  host=$(host_path "$win") || mkdir -p "$(dirname "$host")"
  host=$(host_path "$win")
  cp "$source" "$host"
  [ -n "$when" ] && touch -d "$when" "$host"
}

# Changes the machine's release directory: "touch FILE DATE" or "remove PATH".
release_edit() {
  local what=$1 path=$2 host
  host=$machine/drive_c/release/${path//\\//}
  case $what in
    touch) touch -d "$3" "$host" ;;
    remove) rm -rf "$host" ;;
  esac
}

# --- running the tool ------------------------------------------------------------

# Runs the tool from C:\release (or the directory given with --cwd WINPATH)
# and writes the command, its standard output (CRLF made LF) and its exit
# status to the transcript. --env NAME=VALUE (repeated) sets a variable for
# the run alone; the transcript does not show it.
run_tool() {
  local cwd='C:\release' extra_env=()
  while true; do
    case "${1:-}" in
      --cwd) cwd=$2; shift 2 ;;
      --env) extra_env+=("$2"); shift 2 ;;
      *) break ;;
    esac
  done
  settle_services
  local dir out status
  dir=$(host_path "$cwd")
  out=$(mktemp)
  if [ "$cwd" = 'C:\release' ]; then
    section "run: $(quote_args mevrid.exe "$@")"
  else
    section "run in $cwd: $(quote_args mevrid.exe "$@")"
  fi
  # The service log shows what this run did to the services.
  [ "$backend" = wine ] && : >"$(host_path 'C:\mvt\services.log')"
  local deploy_env=()
  [ -n "${deploy:-}" ] && deploy_env=($(deploy_variables))
  deploy_env+=("${extra_env[@]}")
  case $backend in
    wine)
      # Through cmd, as an administrator types it: the program name then
      # reaches the tool as typed ("mevrid.exe"), and Wine's messages go to
      # standard error, which is dropped; the tool writes standard output only.
      (cd "$dir" && { [ ${#deploy_env[@]} -eq 0 ] || export "${deploy_env[@]}"; } &&
        wine_env wine cmd /c mevrid.exe "$@" 2>/dev/null) >"$out"
      status=$?
      ;;
    posix)
      (cd "$dir" && { [ ${#deploy_env[@]} -eq 0 ] || export "${deploy_env[@]}"; } &&
        MEVRID_MACHINE=$machine SystemRoot='C:\windows' PATH="$dir:$PATH" mevrid.exe "$@" 2>/dev/null) >"$out"
      status=$?
      ;;
  esac
  crlf_to_lf <"$out" >>"$transcript"
  # A last line without its line feed is shown as such.
  [ -s "$out" ] && [ "$(tail -c1 "$out" | od -An -c | tr -d ' ')" != '\n' ] && say "<no line feed at the end>"
  say "[exit $status]"
  rm -f "$out"
  [ -n "${deploy:-}" ] && show_record
  return 0
}

# --- the deployment variables (run.sh --deploy) --------------------------------------

# All four, the record and the log in C:\deploy (a Windows path for Wine's
# tool, the host path for the emulation's).
deploy_variables() {
  mkdir -p "$machine/drive_c/deploy"
  local record='C:\deploy\record.json' log='C:\deploy\run.log'
  if [ "$backend" = posix ]; then
    record=$(host_path "$record")
    log=$(host_path "$log")
  fi
  printf '%s\n' MEVRID_EXIT_CODES=msi MEVRID_LOCK_TIMEOUT=600 "MEVRID_RESULT_FILE=$record" "MEVRID_LOG=$log"
}

# The record the run left, in a section of its own; taken away afterwards,
# so each run's section shows only its own.
show_record() {
  local record
  record=$(host_path 'C:\deploy\record.json')
  section record
  if [ -f "$record" ]; then crlf_to_lf <"$record" >>"$transcript"; else say "none"; fi
  rm -f "$record"
  diverge_rewrite 's/\{"step":"start-driver","call":"StartServiceA","code":1114,"subject":"vtrin"\},?//g' \
    "Wine's device host cannot load the driver (relative ImagePath): its start fails with 1114"
  diverge_rewrite 's/,\]/]/' "the record's errors without that start's failure"
}

# A deployed transcript as the plain run shows it: without the records and
# with each mapped code as the tool's own status (3010 keeps 8 bits: 194),
# in the exit lines and in the records a scenario shows itself.
deploy_as_plain() {
  awk '/^## / { skipping = ($0 == "## record") } !skipping' "$1" |
    sed -E 's/^\[exit 194\]$/[exit 0]/; s/^\[exit (82|102|103|67)\]$/[exit 1]/' |
    sed -E 's/^(\{"schema":[0-9]+,.*"exit_status":)3010,/\10,/; s/^(\{"schema":[0-9]+,.*"exit_status":)(1618|1638|1639|1603),/\11,/'
}

# --- observing the machine ---------------------------------------------------------

# reg query's output (CRLF made LF) and status: nonzero for a missing key
# or value, whose message is dropped.
reg_query() {
  local out status
  case $backend in
    wine) out=$(wine_env wine reg query "$@" 2>/dev/null) ;;
    posix) out=$(mt reg query "$@" 2>/dev/null) ;;
  esac
  status=$?
  [ $status -eq 0 ] && printf '%s\n' "$out" | crlf_to_lf
  return $status
}

# A key and its subkeys as "[key]" lines each followed by its values,
# sorted by name (Wine keeps values sorted, Windows in the order written;
# the tool does not depend on either). Absent: "[key] absent".
dump_key() {
  local key=$1 text line sub
  if ! text=$(reg_query "$key"); then
    say "[$key] absent"
    return
  fi
  say "[$key]"
  printf '%s\n' "$text" | grep '^    ' | sed 's/^    //' | LC_ALL=C sort -f >>"$transcript"
  local own=${key#HKLM\\}
  printf '%s\n' "$text" | grep -i '^HKEY_LOCAL_MACHINE\\' | while IFS= read -r line; do
    sub=${line#*\\}
    # The heading of the key itself comes before its values; subkeys follow.
    [ "${sub,,}" = "${own,,}" ] && continue
    dump_key "HKLM\\$sub"
  done
}

service_state() {
  local text
  case $backend in
    wine) text=$(wine_env wine sc query "$1" 2>/dev/null | crlf_to_lf) ;;
    posix) text=$(mt service query "$1" 2>/dev/null) ;;
  esac
  text=$(printf '%s\n' "$text" | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p')
  printf '%s\n' "${text:-absent}"
}

# The component's keys, the reference keys, the pending deletions.
show_registry() {
  section registry
  dump_key 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA'
  local pending
  pending=$(multi_sz_bytes 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations)
  # The temporary names carry the tool's process id: "\s<pid>.<counter>".
  pending=$(printf '%s' "$pending" | sed -E 's/\\s[0-9a-v]+(\.|\\0|$)/\\s<pid>\1/g')
  say "PendingFileRenameOperations: ${pending:-none}"
}

# A REG_MULTI_SZ value's exact data, every NUL shown as \0, read from reg
# export (reg query shows a list's empty strings differently from one
# program to the next). Nothing when the value is absent.
multi_sz_bytes() {
  local key=$1 value=$2 text
  case $backend in
    wine)
      wine_env wine reg export "$key" 'C:\export.reg' /y >/dev/null 2>&1 || return 0
      text=$(iconv -f UTF-16 -t UTF-8 "$machine/drive_c/export.reg" 2>/dev/null | crlf_to_lf)
      rm -f "$machine/drive_c/export.reg"
      ;;
    posix) text=$(mt reg export "$key" 2>/dev/null | crlf_to_lf) || return 0 ;;
  esac
  # "name"=hex(7):5c,00,... with "\" continuations, UTF-16LE bytes.
  printf '%s\n' "$text" | awk -v name="\"$value\"=hex(7):" '
    index($0, name) == 1 { on = 1; $0 = substr($0, length(name) + 1) }
    on { line = $0; sub(/\\$/, "", line); gsub(/[ ,]/, "", line); hex = hex line; if ($0 !~ /\\$/) on = 0 }
    END {
      # UTF-16LE code units; the tool writes ASCII paths.
      for (i = 1; i + 3 <= length(hex); i += 4) {
        unit = substr(hex, i + 2, 2) substr(hex, i, 2)
        if (unit == "0000") out = out "\\0"
        else if (substr(unit, 1, 2) == "00") out = out sprintf("%c", hexval(substr(unit, 3, 2)))
        else out = out "?"
      }
      print out
    }
    function hexval(h,   v, k) {
      v = 0
      for (k = 1; k <= 2; k++) v = v * 16 + index("0123456789abcdef", tolower(substr(h, k, 1))) - 1
      return v
    }'
}

# Each service's state, and the driver service's configuration as the
# registry holds it (the values Windows' CreateService writes).
show_services() {
  settle_services
  section services
  local name
  for name in vtrin "$@"; do say "$name: $(service_state "$name")"; done
  vtrin_divergences
  local key='HKLM\SYSTEM\CurrentControlSet\Services\vtrin'
  reg_query "$key" | grep -E '^    (Type|Start|ErrorControl|ImagePath|Group|DependOnService|DisplayName) ' |
    sed 's/^    /vtrin config: /' | LC_ALL=C sort -f >>"$transcript"
}

# The component's installed files against the release directory's, the old
# copies a scenario seeded, and the temporary names in the root of C:.
show_files() {
  section files
  local entry win release host rel kind
  for entry in 'C:\windows\mevrid.exe|mevrid.exe' 'C:\windows\system32\qelmot32.dll|nt_node\qelmot32.dll' \
    'C:\windows\system32\drivers\vtrin.sys|nt_node\vtrin.sys' "$@"; do
    win=${entry%%|*}
    release=${entry#*|}
    host=$(host_path "$win")
    rel=$machine/drive_c/release/${release//\\//}
    if [ ! -e "$host" ]; then
      kind=absent
    elif [ -e "$rel" ] && cmp -s "$host" "$rel"; then
      kind="release copy"
      [ "$(stat -c %Y "$host")" = "$(stat -c %Y "$rel")" ] && kind+=", same time" || kind+=", other time"
    else
      kind="other file"
    fi
    [ -e "$host" ] && [ ! -w "$host" ] && [ "$(id -u)" != 0 ] && kind+=", read-only"
    say "$win: $kind"
  done
  # Temporary names: "s", the process id in base 32, and, when the runtime
  # gave one, "." and a counter (Windows drops a trailing dot from a name).
  local tmp kind
  while IFS= read -r tmp; do
    [[ ${tmp,,} =~ ^s[0-9a-v]+(\.[0-9a-v]*)?$ ]] || continue
    kind="other file"
    cmp -s "$machine/drive_c/$tmp" "$machine/drive_c/release/mevrid.exe" && kind="the tool's copy"
    say "C:\\s<pid>${BASH_REMATCH[1]}: $kind"
  done < <(find "$machine/drive_c" -mindepth 1 -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort)
}

# What the recording pre-processors were told, in order.
show_calls() {
  section calls
  local log
  log=$(host_path 'C:\mvt\calls.log')
  if [ -s "$log" ]; then crlf_to_lf <"$log" >>"$transcript"; else say "none"; fi
}

# The order in which the test services changed state (Wine only: the
# emulation's services are not processes).
show_service_log() {
  [ "$backend" = wine ] || return 0
  section "service log (wine only)"
  local log
  log=$(host_path 'C:\mvt\services.log')
  if [ -s "$log" ]; then crlf_to_lf <"$log" >>"$transcript"; else say "none"; fi
}

# Everything at once.
show_state() {
  show_registry
  show_services "$@"
  show_files
  show_calls
}

# --- the run's record and the state before a run ---------------------------------------

# Where a scenario's run writes its record (MEVRID_RESULT_FILE=...): C:\mvt,
# as a Windows path for Wine's tool and the host path for the emulation's.
# Not C:\deploy, whose record run.sh --deploy shows and takes away itself.
record_target() {
  if [ "$backend" = posix ]; then host_path 'C:\mvt\record.json'; else printf '%s' 'C:\mvt\record.json'; fi
}

# That record, in a section of its own, then taken away.
show_run_record() {
  local record
  record=$(host_path 'C:\mvt\record.json')
  section "the run's record"
  if [ -f "$record" ]; then crlf_to_lf <"$record" >>"$transcript"; else say "none"; fi
  rm -f "$record"
}

# What "as before the run" compares: the component's keys and the pending
# deletions, the driver service's state and definition (and the other
# services named), each installed file's bytes and last-write time to the
# nanosecond, and every kept-aside file (".mevrid-kept") on C:.
#   remember_state [SERVICE...]
#   show_against_remembered [SERVICE...]
state_fingerprint() {
  local saved=$transcript win host
  transcript=$(mktemp)
  show_registry
  show_services "$@"
  cat "$transcript"
  rm -f "$transcript"
  transcript=$saved
  for win in 'C:\windows\mevrid.exe' 'C:\windows\system32\qelmot32.dll' 'C:\windows\system32\drivers\vtrin.sys'; do
    host=$(host_path "$win")
    if [ -e "$host" ]; then
      printf 'file\t%s\t%s\t%s\n' "$win" "$(sha256sum <"$host" | cut -c1-64)" "$(stat -c %y "$host")"
    else
      printf 'file\t%s\tabsent\tabsent\n' "$win"
    fi
  done
  find "$machine/drive_c" -iname '*.mevrid-kept' -printf 'kept aside: %P\n' | LC_ALL=C sort
}
remember_state() { remembered_state=$(state_fingerprint "$@"); }
# The differences in words the same on both machines: "<" before, ">" now
# for keys, values and services; for each file whether its bytes and its
# time are the same.
show_against_remembered() {
  section "against the state before the run"
  local now
  now=$(state_fingerprint "$@")
  if [ "$now" = "$remembered_state" ]; then
    say "the same: keys and values, services and the driver's definition, files' bytes and times, nothing kept aside"
    return
  fi
  diff <(grep -v '^file' <<<"$remembered_state") <(grep -v '^file' <<<"$now") | grep '^[<>]' >>"$transcript"
  awk -F'\t' 'FNR == NR { before[$2] = $3 FS $4; next }
    {
      split(before[$2], was, FS)
      if (was[1] == $3 && was[2] == $4) next
      bytes = was[1] == $3 ? "same bytes" : was[1] == "absent" ? "was absent" : $3 == "absent" ? "now absent" : "other bytes"
      print $2 ": " bytes (was[1] == "absent" || $3 == "absent" ? "" : was[2] == $4 ? ", same time" : ", other time")
    }' <(grep '^file' <<<"$remembered_state") <(grep '^file' <<<"$now") >>"$transcript"
}

# The lines by which a run with the mode ($1) and one without it ($2) differ.
show_console_difference() {
  section "console with the mode against without it"
  diff --old-line-format='with the mode only: %L' --new-line-format='without the mode only: %L' \
    --unchanged-line-format='' <(printf '%s' "$1") <(printf '%s' "$2") >>"$transcript"
  [ "$1" = "$2" ] && say "the same"
  return 0
}

# The console output (and status) of the last run in the transcript.
console_of_last_run() {
  awk '/^## / { if ($0 ~ /^## run/) { text = ""; on = 1 } else on = 0; next } on { text = text $0 "\n" }
    END { printf "%s", text }' "$transcript"
}

# --- divergences of Wine -----------------------------------------------------------

# Where the Wine machine and the emulated one differ because Wine's own
# implementation differs from Windows, the comparison of the two transcripts
# says why and compares what is left:
#   diverge_line REGEX REASON       drop matching lines from both
#   diverge_section REGEX REASON    drop whole sections whose "## " heading matches
#   diverge_rewrite SED-E REASON    rewrite the Wine transcript (sed -E) to
#                                   what Windows would have shown
# Recorded once each in $divergences as "kind<TAB>pattern<TAB>reason".
divergence() {
  local entry
  entry=$(printf '%s\t%s\t%s' "$1" "$2" "$3")
  grep -qxF -- "$entry" "$divergences" 2>/dev/null || printf '%s\n' "$entry" >>"$divergences"
}
diverge_line() { divergence line "$1" "$2"; }
diverge_section() { divergence section "$1" "$2"; }
diverge_rewrite() { divergence rewrite "$1" "$2"; }

# Wine's device host resolves a driver's image path only when it is absolute
# or starts with \SystemRoot\; Windows reads a relative one against the
# Windows directory. So the driver service the tool creates never starts under
# Wine, and is stopped where Windows (and the emulation) has it running.
# Its ImagePath Wine keeps as REG_SZ; Windows writes REG_EXPAND_SZ.
vtrin_divergences() {
  diverge_line '^vtrin: (RUNNING|STOPPED)$' \
    "Wine's device host cannot load a driver whose ImagePath is relative (System32\\drivers\\vtrin.sys): vtrin stays stopped"
  diverge_rewrite 's/^(vtrin config: ImagePath +)REG_SZ /\1REG_EXPAND_SZ /' \
    "Wine's CreateServiceA stores ImagePath as REG_SZ where Windows stores REG_EXPAND_SZ"
}

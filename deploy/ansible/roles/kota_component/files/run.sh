#!/bin/sh
# run.sh MODE DIR MANIFEST REG_TOOL KEY RESTART TOOL...: the role's one call
# on an emulated or Wine host.
#
#   MODE      run (present) or remove (absent)
#   DIR       the product's folder on the host: release/, record.json
#   MANIFEST  the release as the control node has it, "- mtime size name"
#   REG_TOOL  the program whose "reg query KEY" tells whether the reference
#             is registered (remove only): mevrid-machine or wine
#   RESTART   how to restart the machine when the run asks for it: "" not
#             at all, "machine" (mevrid-machine reboot), or Wine's
#             wineserver (the server ends, wineboot boots the prefix again)
#   TOOL...   the tool's command line (launcher, program, arguments)
#
# Prints one line that says what happened, and after "record" the run
# record; the programs' own output goes to standard error:
#   missing-program PATH   a program to start is not there
#   not-registered         remove: nothing to remove (the folder went too)
#   stale WHAT             the staged release differs from the manifest
#   record / no-record     the tool ran (status is the tool's; its console
#                          output is in DIR/mevrid.out, its errors on standard error);
#                          after the record, "restarted" or "restart-failed"
mode=$1 dir=$2 manifest=$3 reg_tool=$4 key=$5 restart=$6
shift 6

# The staged tool is checked with the release below.
for program in "$reg_tool" "$1" ${restart:+"$restart"}; do
  [ "$program" = machine ] && continue
  case $program in "$dir"/release/*) continue ;; esac
  [ -x "$program" ] || { echo "missing-program $program"; exit 0; }
done

if [ "$mode" = remove ]; then
  # "reg query" fails with this text for a key that is not there, and with
  # another for anything else.
  if ! error=$("$reg_tool" reg query "$key" 2>&1 >/dev/null); then
    case $error in
      *[Uu]"nable to find"*)
        if [ -e "$dir" ]; then rm -rf -- "$dir" && echo "not-registered removed"; else echo not-registered; fi
        exit 0 ;;
    esac
    printf '%s\n' "$error" >&2
    echo no-record
    exit 1
  fi
fi

# The staged copy must be the release: the same files, sizes and times, as
# rsync's quick check sees them. Few processes: under load each one waits
# for its turn on a CPU.
cd "$dir/release" 2>/dev/null || { echo "stale release/"; exit 0; }
wanted=""
while read -r sum time size name; do
  wanted="$wanted${time%.*} $size $name
"
done <<EOF_MANIFEST
$manifest
EOF_MANIFEST
staged=$(find . -type f -printf '%Ts %s %P\n' | LC_ALL=C sort -k3)
[ "$staged
" = "$wanted" ] || { echo "stale (names, sizes or times)"; exit 0; }

# The record of an earlier run goes first, so that a run that writes none is
# never judged by an old one.
rm -f -- "$dir/record.json"
"$@" >"$dir/mevrid.out"
status=$?
if [ -f "$dir/record.json" ]; then
  IFS= read -r record <"$dir/record.json"
  printf 'record\n%s\n' "$record"
  # A restart the run asked for comes before anything is reported.
  if [ -n "$restart" ] && case $record in *'"restart_required":true'*) true ;; *) false ;; esac; then
    if [ "$restart" = machine ]; then
      "$reg_tool" reboot >&2
    else
      "$restart" -k && "$restart" -w && "$reg_tool" wineboot -r >&2
    fi && echo restarted || echo restart-failed
  fi
  # A removal that succeeded takes the role's files with it.
  case $mode$record in
    remove*'"exit_status":0,'* | remove*'"exit_status":3010,'*) rm -rf -- "$dir" ;;
  esac
else
  echo no-record
fi
exit "$status"

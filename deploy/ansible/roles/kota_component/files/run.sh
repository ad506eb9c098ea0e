#!/bin/sh
# run.sh MODE DIR MANIFEST REG_TOOL KEY TOOL...: the role's one call on an
# emulated or Wine host.
#
#   MODE      run (present) or remove (absent)
#   DIR       the product's folder on the host: release/, record.json
#   MANIFEST  the release as the control node has it, "SHA-256 mtime name"
#   REG_TOOL  the program whose "reg query KEY" tells whether the reference
#             is registered (remove only)
#   TOOL...   the tool's command line (launcher, program, arguments)
#
# Prints one line that says what happened, and after "record" the run
# record; the programs' own output goes to standard error:
#   missing-program PATH   a program to start is not there
#   not-registered         remove: nothing to remove (the folder went too)
#   stale NAME             the staged release differs from the manifest
#   record / no-record     the tool ran (status is the tool's; its console
#                          output is in DIR/mevrid.out, its errors on standard error)
mode=$1 dir=$2 manifest=$3 reg_tool=$4 key=$5
shift 5

# The staged tool is checked with the release below.
for program in "$reg_tool" "$1"; do
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

# The staged copy must be the release: the same files, contents and times.
count=0
stale() { echo "stale $1"; exit 0; }
cd "$dir/release" 2>/dev/null || stale release/
while read -r sum time name; do
  [ -f "$name" ] && [ "$(stat -c %Y -- "$name")" = "${time%.*}" ] || stale "$name"
  [ "$(sha256sum <"$name" | cut -c1-64)" = "$sum" ] || stale "$name"
  count=$((count + 1))
done <<EOF_MANIFEST
$manifest
EOF_MANIFEST
[ "$(find . -type f | wc -l)" -eq "$count" ] || stale "(files not in the release)"
# The record of an earlier run goes first, so that a run that writes none is
# never judged by an old one.
rm -f -- "$dir/record.json"
"$@" >"$dir/mevrid.out"
status=$?
if [ -f "$dir/record.json" ]; then
  echo record
  cat "$dir/record.json"
  echo
  # A removal that succeeded takes the role's files with it.
  if [ "$mode" = remove ] && grep -qE '"exit_status":(0|3010),' "$dir/record.json"; then
    rm -rf -- "$dir"
  fi
else
  echo no-record
fi
exit "$status"

#!/usr/bin/env bash
# Builds the tool and performs a real install on the default emulated machine
# (created on first use), then shows what the install left: the registry
# keys, the driver service and the installed files, and ends with the
# component's state as mevrid-status reads it and its plan for a second
# product.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"${MEVRID_JOBS:-2}" --target mevrid mevrid-machine mevrid-status qelmot32 vtrin_driver >/dev/null

machine_tool=$PWD/build/default/mevrid-machine
status_tool=$PWD/build/default/mevrid-status
release=$PWD/build/default/release

show() { printf '\n$ %s\n' "$*"; "$@"; }

show "$machine_tool" init
cd "$release"
status=0
show ./mevrid.exe -k DemoProduct -p '%SystemRoot%\mevrid.exe -o' || status=$?
echo "(exit status $status)"
show "$machine_tool" reg export 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA'
show "$machine_tool" reg query 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\CurrentVersion'
show "$machine_tool" reg query 'HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\References\DEMOPRODUCT'
show "$machine_tool" service query vtrin
show "$machine_tool" service qc vtrin
show "$machine_tool" files 'C:\WINDOWS'
show "$status_tool" --release .
show "$status_tool" --plan -k OtherProduct -p '%SystemRoot%\mevrid.exe -o'
echo
echo "Remove the reference again with: (cd $release && ./mevrid.exe -k DemoProduct -r)"

#!/usr/bin/env bash
# How long a first install takes under Wine: the tool against the same work
# written out as an administrator would, a batch of Wine's copy, reg and sc
# commands (install.cmd below). Each run gets a fresh copy of one booted
# prefix with its server already up, so only the install itself is timed.
#
#   tests/wine/bench_install.sh [RUNS]      (default 5 runs of each, interleaved)
#
# Needs the windows preset built (build/windows). Prints every run and the
# median of each, in milliseconds.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
runs=${1:-5}

wine_release=$top/build/windows/release
wine_programs=$top/build/windows/wine-programs
[ -f "$wine_release/mevrid.exe" ] || { echo "build the windows preset first" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/mevrid-wine-bench.XXXXXX")
export WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
backend=wine transcript=/dev/null
. "$here/lib.sh"
wine_base_prefix=$work/base
trap 'wine_stop_server "$wine_base_prefix"; rm -rf "$work"' EXIT
WINEPREFIX=$wine_base_prefix wineboot -i >/dev/null 2>&1 && WINEPREFIX=$wine_base_prefix wineserver -w

cat >"$work/install.cmd" <<'EOF'
@echo off
rem The tool's first install, by hand.
copy /y mevrid.exe %SystemRoot%\mevrid.exe >nul
copy /y nt_node\qelmot32.dll %SystemRoot%\system32\qelmot32.dll >nul
copy /y nt_node\vtrin.sys %SystemRoot%\system32\drivers\vtrin.sys >nul
reg add "HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\CurrentVersion" /v Version /t REG_SZ /d 4.0 /f >nul
reg add "HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\CurrentVersion" /v UnInstallImage /t REG_EXPAND_SZ /d %SystemRoot%\mevrid.exe /f >nul
sc create vtrin type= kernel start= auto error= normal group= "Extended Base" binPath= System32\drivers\vtrin.sys >nul
sc start vtrin >nul
reg add "HKLM\SOFTWARE\Kelm Computer Corporation\KelmKOTA\References\PRODA" /v PreProcImage /t REG_EXPAND_SZ /d "C:\mvt\record_call.exe PRODA" /f >nul
EOF
sed -i 's/$/\r/' "$work/install.cmd"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : int((a[NR / 2] + a[NR / 2 + 1]) / 2) }'; }

one_run() { # tool|batch -> milliseconds
  machine=$work/run
  rm -rf "$machine"
  machine_create
  cp "$work/install.cmd" "$machine/drive_c/release/"
  # Warm: the server, services.exe and the device host are up before timing.
  wine_env wine reg query 'HKLM\SOFTWARE' >/dev/null 2>&1
  local start end
  start=$(now_ms)
  if [ "$1" = tool ]; then
    (cd "$machine/drive_c/release" && wine_env wine cmd /c mevrid.exe -q -k ProdA -p 'C:\mvt\record_call.exe PRODA' >/dev/null 2>&1)
  else
    (cd "$machine/drive_c/release" && wine_env wine cmd /c install.cmd >/dev/null 2>&1)
  fi
  end=$(now_ms)
  # Both must have left the same component behind.
  [ -f "$machine/drive_c/windows/system32/drivers/vtrin.sys" ] ||
    echo "warning: $1 run left no driver file" >&2
  machine_destroy
  echo $((end - start))
}

: >"$work/tool" ; : >"$work/batch"
for ((i = 1; i <= runs; i++)); do
  t=$(one_run tool); echo "$t" >>"$work/tool"
  b=$(one_run batch); echo "$b" >>"$work/batch"
  echo "run $i: mevrid.exe ${t} ms, install.cmd ${b} ms"
done
echo "median of $runs: mevrid.exe $(median <"$work/tool") ms, install.cmd (copy, reg, sc) $(median <"$work/batch") ms"

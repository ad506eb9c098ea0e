# The role's one call on a Windows host (ansible.windows.win_powershell).
#
#   Mode      run (present), remove (absent) or plan (check mode)
#   Dir       the product's folder: release\, record.json, mevrid.log
#   Stage     the release copy to check and run from (Dir\release, or
#             Dir\plan in check mode); Discard removes it afterwards
#   Manifest  the release as the control node has it, "SHA-256 mtime size name"
#   Key       the reference's registry key (remove)
#   Arguments the tool's arguments; Environment its added variables
#
# Sets $Ansible.Result to stdout, stderr and rc; stdout's first line says
# what happened, as files/run.sh does: insecure REASON, not-registered,
# stale NAME, record (the record follows) or no-record; in plan mode the
# plan's JSON follows "plan".
param(
    [string]$Mode, [string]$Dir, [string]$Stage, [bool]$Discard, [string]$Manifest, [string]$Key,
    [string[]]$Arguments, [hashtable]$Environment, [string]$SecureFolder
)
$ErrorActionPreference = 'Stop'
$Ansible.Changed = $false
. ([scriptblock]::Create($SecureFolder))

function Out-Result([string]$Stdout, [string]$Stderr = '', [int]$Rc = 0) {
    $Ansible.Result = @{ stdout = $Stdout; stderr = $Stderr; rc = $Rc }
}

# The Windows rules for one argument of a command line.
function ConvertTo-Argument([string]$Text) {
    if ($Text -and $Text -notmatch '[\s"]') { return $Text }
    return '"' + ($Text -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"'
}

# Starts Program (an absolute path) in Folder with the added variables and
# waits for it: its exit code, output and errors.
function Invoke-Program([string]$Program, [string[]]$ArgumentList, [string]$Folder, [hashtable]$Variables) {
    $info = [System.Diagnostics.ProcessStartInfo]::new($Program)
    $info.Arguments = ($ArgumentList | ForEach-Object { ConvertTo-Argument $_ }) -join ' '
    $info.WorkingDirectory = $Folder
    $info.UseShellExecute = $false
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    foreach ($name in $Variables.Keys) { $info.EnvironmentVariables[$name] = [string]$Variables[$name] }
    $process = [System.Diagnostics.Process]::Start($info)
    $stdout = $process.StandardOutput.ReadToEndAsync()
    $stderr = $process.StandardError.ReadToEnd()
    $process.WaitForExit()
    return @{ rc = $process.ExitCode; stdout = $stdout.Result; stderr = $stderr }
}

# Folders that exist must be safe before anything in them is trusted.
foreach ($folder in @((Split-Path -Parent $Dir), $Dir)) {
    if (Test-Path -LiteralPath $folder) {
        $reason = Get-InsecureReason $folder
        if ($reason) { Out-Result "insecure $reason"; return }
    }
}

if ($Mode -ne 'run' -and $Arguments -contains '-r' -and -not (Test-Path -LiteralPath "Registry::$Key")) {
    if (Test-Path -LiteralPath $Dir) {
        if ($Mode -eq 'plan') { Out-Result 'not-registered removed'; return }
        Remove-Item -LiteralPath $Dir -Recurse -Force
        $Ansible.Changed = $true
        Out-Result 'not-registered removed'
    } else {
        Out-Result 'not-registered'
    }
    return
}

# The staged copy must be the release: the same files, contents and times.
if (-not (Test-Path -LiteralPath $Stage)) { Out-Result 'stale release\'; return }
$count = 0
foreach ($line in $Manifest -split "`n") {
    if (-not $line.Trim()) { continue }
    $sum, $time, $size, $name = $line.Trim() -split ' ', 4
    $path = Join-Path $Stage ($name -replace '/', '\')
    if (-not (Test-Path -LiteralPath $path -PathType Leaf)) { Out-Result "stale $name"; return }
    $seconds = [math]::Floor([double]::Parse($time, [cultureinfo]::InvariantCulture))
    $written = [DateTimeOffset]::new((Get-Item -LiteralPath $path).LastWriteTimeUtc).ToUnixTimeSeconds()
    if ($written -ne $seconds -or (Get-FileHash -LiteralPath $path -Algorithm SHA256).Hash -ne $sum) {
        Out-Result "stale $name"; return
    }
    $count++
}
if (@(Get-ChildItem -LiteralPath $Stage -Recurse -File -Force).Count -ne $count) {
    Out-Result 'stale (files not in the release)'; return
}

if ($Mode -eq 'plan') {
    # In the tool's environment: the plan says whether MEVRID_ROLLBACK is on.
    $plan = Invoke-Program (Join-Path $Stage 'mevrid-status.exe') (@('--plan') + $Arguments + @('--release', $Stage, '--json')) $Stage $Environment
    if ($Discard) { Remove-Item -LiteralPath $Stage -Recurse -Force }
    Out-Result "plan`n$($plan.stdout)" $plan.stderr $plan.rc
    return
}

# The record of an earlier run goes first, so that a run that writes none is
# never judged by an old one.
$record = Join-Path $Dir 'record.json'
Remove-Item -LiteralPath $record -Force -ErrorAction SilentlyContinue
$run = Invoke-Program (Join-Path $Stage 'mevrid.exe') $Arguments $Stage $Environment
[System.IO.File]::WriteAllText((Join-Path $Dir 'mevrid.out'), $run.stdout)
if (-not (Test-Path -LiteralPath $record)) { Out-Result 'no-record' $run.stderr $run.rc; return }
$text = (Get-Content -LiteralPath $record -Raw).Trim()
Out-Result "record`n$text" $run.stderr $run.rc
# A removal that succeeded takes the role's files with it.
if ($Mode -eq 'remove' -and ($text | ConvertFrom-Json).exit_status -in 0, 3010) {
    Remove-Item -LiteralPath $Dir -Recurse -Force
}

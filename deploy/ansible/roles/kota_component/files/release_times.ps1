# After the release is copied: win_copy writes each file with the time of
# the copy, but the tool tells a newer release by its files' last-write
# times, so the release's own times are put back.
param([string]$Stage, [string]$Manifest)
$ErrorActionPreference = 'Stop'
$Ansible.Changed = $false
$epoch = [DateTime]::new(1970, 1, 1, 0, 0, 0, [DateTimeKind]::Utc)
foreach ($line in $Manifest -split "`n") {
    if (-not $line.Trim()) { continue }
    $sum, $time, $size, $name = $line.Trim() -split ' ', 4
    $file = Get-Item -LiteralPath (Join-Path $Stage ($name -replace '/', '\'))
    $wanted = $epoch.AddTicks([long]([decimal]::Parse($time, [cultureinfo]::InvariantCulture) * 10000000))
    if ($file.LastWriteTimeUtc -ne $wanted) {
        $file.LastWriteTimeUtc = $wanted
        $Ansible.Changed = $true
    }
}

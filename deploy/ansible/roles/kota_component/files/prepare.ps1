# Before the release is copied: the product's folder and its parent are
# created SYSTEM's and the Administrators' only (inheritance off, the
# Administrators the owner) in the same call that creates them, so no one
# else ever holds them; folders that exist must already be so, or the host
# fails. Then the staged copy loses every file the release does not have.
param([string]$Dir, [string]$Stage, [string]$Manifest, [string]$SecureFolder)
$ErrorActionPreference = 'Stop'
$Ansible.Changed = $false
. ([scriptblock]::Create($SecureFolder))

$sid = [System.Security.Principal.SecurityIdentifier]
foreach ($folder in @((Split-Path -Parent $Dir), $Dir, $Stage)) {
    if (-not (Test-Path -LiteralPath $folder)) {
        $security = [System.Security.AccessControl.DirectorySecurity]::new()
        $security.SetAccessRuleProtection($true, $false)
        $security.SetOwner($sid::new('S-1-5-32-544'))
        foreach ($trusted in $script:TrustedSids) {
            $security.AddAccessRule([System.Security.AccessControl.FileSystemAccessRule]::new(
                    $sid::new($trusted), 'FullControl', 'ContainerInherit, ObjectInherit', 'None', 'Allow'))
        }
        [void][System.IO.Directory]::CreateDirectory($folder, $security)
        $Ansible.Changed = $true
    }
    $reason = Get-InsecureReason $folder
    if ($reason) { throw "refusing to stage the release: $reason" }
}

$names = @{}
foreach ($line in $Manifest -split "`n") {
    if ($line.Trim()) { $names[($line.Trim() -split ' ', 4)[3] -replace '/', '\'] = $true }
}
foreach ($file in Get-ChildItem -LiteralPath $Stage -Recurse -File -Force) {
    if (-not $names.ContainsKey($file.FullName.Substring($Stage.TrimEnd('\').Length + 1))) {
        Remove-Item -LiteralPath $file.FullName -Force
        $Ansible.Changed = $true
    }
}

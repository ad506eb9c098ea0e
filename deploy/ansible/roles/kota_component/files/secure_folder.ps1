# The test both Windows scripts make of the role's folders: owned by SYSTEM
# or the Administrators, an access list of its own (nothing inherited), and
# no one else allowed to write, delete or change it; the same for every
# file and folder inside. Dot-sourced: defines Get-InsecureReason.
$script:TrustedSids = @('S-1-5-18', 'S-1-5-32-544')
$script:WriteRights = [System.Security.AccessControl.FileSystemRights]'WriteData, AppendData, WriteExtendedAttributes, WriteAttributes, Delete, DeleteSubdirectoriesAndFiles, ChangePermissions, TakeOwnership'

function Get-WriterReason([string]$Path) {
    $acl = Get-Acl -LiteralPath $Path
    $sid = [System.Security.Principal.SecurityIdentifier]
    foreach ($rule in $acl.GetAccessRules($true, $true, $sid)) {
        if ($rule.AccessControlType -eq 'Allow' -and $rule.IdentityReference.Value -notin $script:TrustedSids -and
            ($rule.FileSystemRights -band $script:WriteRights)) {
            return "$Path grants $($rule.IdentityReference.Value) $($rule.FileSystemRights)"
        }
    }
    return ''
}

# '' when Folder is safe to run an elevated tool from, else why not.
function Get-InsecureReason([string]$Folder) {
    $acl = Get-Acl -LiteralPath $Folder
    $owner = $acl.GetOwner([System.Security.Principal.SecurityIdentifier]).Value
    if ($owner -notin $script:TrustedSids) { return "$Folder is owned by $owner" }
    if (-not $acl.AreAccessRulesProtected) { return "$Folder inherits its access list" }
    $reason = Get-WriterReason $Folder
    if ($reason) { return $reason }
    foreach ($item in Get-ChildItem -LiteralPath $Folder -Recurse -Force) {
        $reason = Get-WriterReason $item.FullName
        if ($reason) { return $reason }
    }
    return ''
}

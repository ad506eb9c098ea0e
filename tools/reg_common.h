// What the reg commands share: key arguments and value types as Windows'
// reg spells them.
#pragma once

#include <cstdint>
#include <string>


namespace machine_tool {

// A key argument as reg takes it: "HKEY_LOCAL_MACHINE\X", "HKLM\X" or just
// "X" (the emulated machine has no other hive). *path is the part below
// HKEY_LOCAL_MACHINE, "" for the hive itself. false (after printing why) for
// another hive.
bool ParseKeyArgument(const std::string& text, std::string* path);
// "HKEY_LOCAL_MACHINE\<stored path>" of a key, from its path as stored.
std::string FullKeyName(const std::string& stored_path);
// "REG_SZ" for 1; "REG_UNKNOWN" for a type reg has no name for.
const char* RegTypeName(uint32_t type);
// The type of a reg type name (case-insensitive); false when unknown.
bool RegTypeOfName(const std::string& name, uint32_t* type);
// A reg switch ("/v" or "-v", any letter case) equal to name ("v").
bool IsSwitch(const std::string& arg, const char* name);
// reg's own line when a key or value is missing, on standard error; returns
// the exit status for it.
int ReportMissingKeyOrValue();

}  // namespace machine_tool

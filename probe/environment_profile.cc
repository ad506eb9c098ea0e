// The questions the rest of the tool asks of an environment profile. The
// fields are read only here and by the report, apart from ProgramFilesPath,
// which the legacy preparation reads directly.
#include "probe/environment_profile.h"

#include "platform/ascii_case.h"

Flag IsManagedNode(const EnvironmentProfile& profile) { return profile.NodePresent ? 1 : 0; }

Flag IsManagementStation(const EnvironmentProfile& profile) {
  return (profile.ConsolePresent && profile.ConsoleRole == ConsoleRole::Manager) ? 1 : 0;
}

Flag IsNodeVersion(const EnvironmentProfile& profile, const char* version) {
  return EqualsIgnoringAsciiCase(version, profile.NodeVersion) ? 1 : 0;
}

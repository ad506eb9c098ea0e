// The process's environment profile and the questions the rest of the tool
// asks of it. The fields are read only here and by the report, apart from
// ProgramFilesPath, which the legacy preparation reads directly.
#include "probe/environment_profile.h"

#include "platform/ascii_case.h"

EnvironmentProfile g_EnvironmentProfile;

Flag IsManagedNode() { return g_EnvironmentProfile.NodePresent ? 1 : 0; }

Flag IsManagementStation() {
  return (g_EnvironmentProfile.ConsolePresent && g_EnvironmentProfile.ConsoleRole == ConsoleRole::Manager) ? 1 : 0;
}

Flag IsNodeVersion(const char* version) {
  return EqualsIgnoringAsciiCase(version, g_EnvironmentProfile.NodeVersion) ? 1 : 0;
}

// The questions the rest of the tool asks of an environment profile. The
// fields are read only here and by the report, apart from ProgramFilesPath,
// which the legacy preparation reads directly.
#include "probe/environment_profile.h"

#include "platform/ascii_case.h"

namespace {

// The node versions that keep their own copies of the component's files.
constexpr const char* kOlderNodeVersions[] = {"3.0", "3.1", "3.2", "3.2.1", "3.3", "3.4"};

}  // namespace

Flag IsManagedNode(const EnvironmentProfile& profile) { return profile.NodePresent ? 1 : 0; }

Flag IsManagementStation(const EnvironmentProfile& profile) {
  return (profile.ConsolePresent && profile.ConsoleRole == ConsoleRole::Manager) ? 1 : 0;
}

Flag IsNodeVersion(const EnvironmentProfile& profile, const char* version) {
  return EqualsIgnoringAsciiCase(version, profile.NodeVersion) ? 1 : 0;
}

Flag IsOlderNode(const EnvironmentProfile& profile) {
  if (!IsManagedNode(profile)) return 0;
  for (const char* version : kOlderNodeVersions) {
    if (IsNodeVersion(profile, version)) return 1;
  }
  return 0;
}

bool KeepsLibraryUnderProgramFiles(const EnvironmentProfile& profile) {
  return IsNodeVersion(profile, "3.3") || IsNodeVersion(profile, "3.4");
}

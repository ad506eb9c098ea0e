// Which of the suite's products and which management console the machine
// carries, read from the registry (and the locale) once per process.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum class ConsoleRole : int32_t {
  None = 0,
  Manager = 1,
  Console = 2,
  Applications = 3,
};

struct EnvironmentProfile {
  Flag NodePresent = 0;
  char NodeVersion[16] = {};
  char ProgramFilesPath[260] = {};
  Flag ConsolePresent = 0;
  char ConsoleVersion[16] = {};
  // The field bears the type's name, so the type is named from the outside.
  ::ConsoleRole ConsoleRole = ::ConsoleRole::None;
  char OpenViewPath[260] = {};
  char LanguageDirectory[260] = {};
};

// Reads the machine's profile afresh; nothing of an earlier probe survives.
// The caller keeps the value and hands it to whatever asks of it.
EnvironmentProfile ProbeEnvironment();
void PrintEnvironmentReport(const EnvironmentProfile& profile);
Flag IsManagedNode(const EnvironmentProfile& profile);
Flag IsManagementStation(const EnvironmentProfile& profile);
Flag IsNodeVersion(const EnvironmentProfile& profile, const char* version);
// Whether the profiled machine carries an older managed node (3.0 to 3.4),
// which keeps its own copies of the component.
Flag IsOlderNode(const EnvironmentProfile& profile);
// Versions 3.3 and 3.4 keep their library copy under the suite's program
// files directory, the older ones in the Windows system directory.
bool KeepsLibraryUnderProgramFiles(const EnvironmentProfile& profile);

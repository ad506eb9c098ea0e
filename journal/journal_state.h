// The journal's state, shared by its log and its record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace journal_internal {

struct CallError {
  std::string Step;
  std::string Call;
  unsigned long Code;
  std::string Subject;
};

struct State {
  bool Active = false;
  PlatformLogFile* LogFile = nullptr;
  std::string RecordPath;
  const char* Step = "start";
  std::vector<std::string> Steps;
  int AbsenceExpected = 0;
  bool Changed = false;
  bool RestartRequired = false;
  std::string Mode = "noop";
  std::string Outcome = "noop";
  std::optional<std::string> Reference;
  std::optional<std::string> VersionBefore;
  std::optional<std::string> VersionAfter;
  std::vector<std::string> FailedPhases;
  std::vector<CallError> Errors;
};

State& Current();

}  // namespace journal_internal

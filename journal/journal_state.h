// The journal's state, shared by its log and its record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "journal/run_outcome.h"
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
  int AbsenceExpected = 0;
  bool Changed = false;
  bool RestartRequired = false;
  RunMode Mode = RunMode::Noop;
  RunOutcome Outcome = RunOutcome::Noop;
  std::optional<std::string> Reference;
  std::optional<std::string> VersionBefore;
  std::optional<std::string> VersionAfter;
  std::vector<std::string> FailedPhases;
  std::vector<CallError> Errors;
  // The all-or-nothing install: its keys are in the record only when asked for.
  bool RollbackMode = false;
  std::optional<std::string> FailedStep;
  bool RolledBack = false;
  bool RollbackFailed = false;
};

State& Current();

}  // namespace journal_internal

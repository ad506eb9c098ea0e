// The journal's state, shared by its log and its record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace journal_internal {

struct CallError {
  std::string step;
  std::string call;
  unsigned long code;
  std::string subject;
};

struct State {
  bool active = false;
  PlatformLogFile* log = nullptr;
  std::string record_path;
  const char* step = "start";
  std::vector<std::string> steps;
  int absence_expected = 0;
  bool changed = false;
  bool restart_required = false;
  std::string mode = "noop";
  std::string outcome = "noop";
  std::optional<std::string> reference;
  std::optional<std::string> version_before;
  std::optional<std::string> version_after;
  std::vector<std::string> failed_phases;
  std::vector<CallError> errors;
};

State& Current();

}  // namespace journal_internal

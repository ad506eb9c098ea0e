// What a run of the tool would do, found by the same read-only parts the run
// itself asks (the probe, the install's choice, the reference walk), without
// doing any of it. The vocabulary is the run record's.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"

struct RunPlan {
  std::string Mode;     // "noop", "usage", "refused", "install", "remove"
  std::string Outcome;  // the outcome of the run when it succeeds
  bool Changed = false;
  std::string DecidedBy;
  std::vector<std::string> NotifyEnd;    // told "-e", in order
  std::vector<std::string> NotifyBegin;  // told "-b", in order
  bool HasReference = false;
  std::string Reference;  // upper-cased, as the tool registers it
};

// parse is what the tool's parser made of the command line into options.
RunPlan PlanRun(ParseOutcome parse, const RunOptions& options);

std::string PlanText(const RunPlan& plan);
std::string PlanJson(const RunPlan& plan);

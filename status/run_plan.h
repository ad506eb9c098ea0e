// What a run of the tool would do: the run's own decision, asked of facts
// read beforehand without changing anything. The vocabulary is the run
// record's.
#pragma once

#include <string>
#include <vector>

#include "cli/option_parser.h"
#include "journal/run_outcome.h"

struct RunPlan {
  RunMode Mode = RunMode::Noop;
  RunOutcome Outcome = RunOutcome::Noop;  // the outcome the run will record
  bool Changed = false;
  std::string DecidedBy;
  std::vector<std::string> NotifyEnd;    // told "-e", in order
  std::vector<std::string> NotifyBegin;  // told "-b", in order
  bool HasReference = false;
  std::string Reference;  // upper-cased, as the tool registers it
  bool Rollback = false;  // MEVRID_ROLLBACK=on: a failed install would put the component back
};

// parse is what the tool's parser made of the command line into options.
RunPlan PlanRun(ParseOutcome parse, const RunOptions& options);

std::string PlanText(const RunPlan& plan);
std::string PlanJson(const RunPlan& plan);

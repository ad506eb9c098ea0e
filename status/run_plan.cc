#include "status/run_plan.h"

#include "cli/machine_facts.h"
#include "cli/run_decision.h"
#include "component/component_text.h"
#include "component/rollback_mode.h"
#include "status/json_text.h"

namespace {

std::string DecidedByText(const RunDecision& decision, const MachineFacts& facts) {
  switch (decision.Reason) {
    case DecidedBy::NoWindowsDirectory: return "the Windows directory (SystemRoot) is not set";
    case DecidedBy::OlderNodeWithoutG:
      return FormatText("an older node (%s) is installed and -g is not given", facts.NodeVersion.c_str());
    case DecidedBy::OlderNodeDriverMissing:
      return "the older node has no driver service to stop, and no install of this tool deleted it";
    case DecidedBy::OlderNodeCopiesDeleted: return "the older node's copies of the component are deleted first";
    case DecidedBy::NoVersion: return "no component version is recorded";
    case DecidedBy::VersionUnreadable: return "the recorded version does not read as major.minor";
    case DecidedBy::VersionOlder: return "an older component version is recorded";
    case DecidedBy::FileOlder:
      return FormatText("the installed %s is missing or older than the release's",
                        decision.FileOlder ? decision.FileOlder : "file");
    case DecidedBy::DriverServiceAbsent: return "this version is recorded but its driver service is absent";
    case DecidedBy::UnfinishedInstall: return "an earlier install was left unfinished";
    case DecidedBy::Current: return "the component is current";
    case DecidedBy::NotRegistered: return "the reference is not registered";
    case DecidedBy::ReferencesUnreadable: return "the references cannot be read";
    case DecidedBy::OthersRemain: return "other references remain";
    case DecidedBy::NoOtherRemains: return "no other reference remains";
  }
  return "";
}

}  // namespace

RunPlan PlanRun(ParseOutcome parse, const RunOptions& options) {
  RunPlan plan;
  plan.Rollback = RollbackModeRequested();
  if (parse == ParseOutcome::NoOp) {
    plan.Mode = RunMode::Noop;
    plan.Outcome = RunOutcome::Noop;
    plan.DecidedBy = "-o ends the run at once";
    return plan;
  }
  if (parse == ParseOutcome::Usage || !IsValidReferenceRequest(options)) {
    plan.Mode = RunMode::Usage;
    plan.Outcome = RunOutcome::Usage;
    plan.DecidedBy = "the command line is not a valid request";
    return plan;
  }
  plan.HasReference = true;
  plan.Reference = options.ReferenceName;
  const MachineFacts facts = ReadMachineFacts(options);
  const RunDecision decision = DecideRun(options, facts);
  plan.Mode = decision.Mode;
  plan.Outcome = decision.Outcome;
  plan.Changed = decision.Changed;
  plan.DecidedBy = DecidedByText(decision, facts);
  plan.NotifyEnd = decision.NotifyEnd;
  plan.NotifyBegin = decision.NotifyBegin;
  return plan;
}

std::string PlanText(const RunPlan& plan) {
  auto names = [](const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& name : list) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? std::string("(none)") : text;
  };
  std::string text = std::string("Mode: ") + RunModeName(plan.Mode) + "\nOutcome: " + RunOutcomeName(plan.Outcome) + "\n";
  text += std::string("Changes the machine: ") + (plan.Changed ? "yes" : "no") + "\n";
  text += "Decided by: " + plan.DecidedBy + "\n";
  if (plan.HasReference) text += "Reference: " + plan.Reference + "\n";
  text += "Told \"-e\": " + names(plan.NotifyEnd) + "\n";
  text += "Told \"-b\": " + names(plan.NotifyBegin) + "\n";
  // Said only when on, so a plan without the mode reads as it always did.
  if (plan.Rollback) text += "Rollback: on\n";
  return text;
}

std::string PlanJson(const RunPlan& plan) {
  return "{\"schema\":1,\"mode\":" + JsonString(RunModeName(plan.Mode)) + ",\"outcome\":" + JsonString(RunOutcomeName(plan.Outcome)) +
         ",\"changed\":" + JsonBool(plan.Changed) + ",\"decided_by\":" + JsonString(plan.DecidedBy) +
         ",\"notify_end\":" + JsonStringList(plan.NotifyEnd) + ",\"notify_begin\":" + JsonStringList(plan.NotifyBegin) +
         ",\"reference\":" + JsonStringOrNull(plan.HasReference, plan.Reference) +
         (plan.Rollback ? ",\"rollback\":true" : "") + "}\n";
}

#include "status/run_plan.h"

#include <cstring>

#include "cli/legacy_handling.h"
#include "component/component_keys.h"
#include "component/component_text.h"
#include "component/currency_check.h"
#include "component/install.h"
#include "component/notifications.h"
#include "component/references.h"
#include "platform/environment_text.h"
#include "platform/handles.h"
#include "probe/environment_profile.h"
#include "status/json_text.h"
#include "status/machine_state.h"

namespace {

// The references a walk would tell the switch, in the walk's order: those
// whose pre-processor's command line can be formed.
std::vector<std::string> WouldNotifyAll(const char* notify_switch, Flag verbose) {
  std::vector<std::string> names;
  WalkReferences([&](HKEY reference, const char* name) {
    char command_line[kTextBufferSize];
    if (FormPreProcCommand(reference, notify_switch, verbose, command_line)) names.push_back(name);
  });
  return names;
}

// Whether the removal's single "-e" reaches this reference's pre-processor.
bool WouldNotifyEnd(const char* reference_name, Flag verbose) {
  std::string key_path;
  if (!FormReferenceKeyPath(reference_name, &key_path)) return false;
  ScopedKey reference;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, reference.Receive()) != ERROR_SUCCESS)
    return false;
  char command_line[kTextBufferSize];
  return FormPreProcCommand(reference.Get(), "-e", verbose, command_line);
}

std::string CurrencyText(const InstallChoice& choice) {
  const CurrencyCheck& check = choice.Currency;
  switch (check.Row) {
    case CurrencyRow::NoVersion: return "no component version is recorded";
    case CurrencyRow::VersionUnreadable: return "the recorded version does not read as major.minor";
    case CurrencyRow::VersionOlder: return "an older component version is recorded";
    case CurrencyRow::FileOlder:
      return FormatText("the installed %s is missing or older than the release's", check.File->FileName);
    case CurrencyRow::Current: break;
  }
  if (choice.DriverServiceAbsent) return "this version is recorded but its driver service is absent";
  if (choice.UnfinishedInstall) return "an earlier install was left unfinished";
  if (choice.StartStoppedDriver) return "the component is current; its stopped driver service is started";
  return "the component is current";
}

void PlanInstall(const RunOptions& options, Flag older_node, RunPlan* plan) {
  plan->Mode = "install";
  const char* windows_directory = LookupWindowsDirectory();
  if (windows_directory == nullptr) {
    plan->Outcome = "failed";
    plan->DecidedBy = "the Windows directory (SystemRoot) is not set";
    return;
  }
  const InstallChoice choice = ChooseInstall(windows_directory, 0);
  plan->DecidedBy = CurrencyText(choice);
  // "-g" on an older node deletes the node's copies of the driver and the
  // library before the install looks: whatever the check finds now, the
  // install then finds a file missing and goes ahead in full.
  const bool legacy_install = older_node && options.OverOlder;
  bool full = choice.FullInstall;
  if (legacy_install && !full) {
    full = true;
    plan->DecidedBy = "the older node's copies of the component are deleted first";
  }
  std::string image;
  const bool registered = ReadReferenceImage(options.ReferenceName, &image);
  if (!full) {
    plan->Outcome = "registered";
    // Writing the image the reference already has changes nothing.
    plan->Changed = legacy_install || choice.StartStoppedDriver || !registered || image != options.PreProcImage;
    return;
  }
  std::string version;
  plan->Outcome = ReadRecordedVersion(&version) ? "upgraded" : "installed";
  plan->Changed = true;
  // The walks come before the new reference is written: a product new in
  // this run is told neither.
  plan->NotifyEnd = WouldNotifyAll("-e", options.Verbose);
  plan->NotifyBegin = WouldNotifyAll("-b", options.Verbose);
}

void PlanRemove(const RunOptions& options, Flag older_node, RunPlan* plan) {
  plan->Mode = "remove";
  if (LookupWindowsDirectory() == nullptr) {
    plan->Outcome = "failed";
    plan->DecidedBy = "the Windows directory (SystemRoot) is not set";
    return;
  }
  std::string image;
  if (!ReadReferenceImage(options.ReferenceName, &image)) {
    plan->Outcome = "failed";
    plan->DecidedBy = "the reference is not registered";
    return;
  }
  if (WouldNotifyEnd(options.ReferenceName, options.Verbose)) plan->NotifyEnd.push_back(options.ReferenceName);
  std::vector<std::string> others;
  for (const ReferenceState& reference : ReadReferences())
    if (reference.Name != options.ReferenceName) others.push_back(reference.Name);
  // Once the node is no longer older, a removal lets go of the legacy
  // reference as well, which is told "-e" quietly and deleted.
  if (!older_node && strcmp(options.ReferenceName, kLegacyReferenceName) != 0) {
    for (auto it = others.begin(); it != others.end(); ++it) {
      if (*it != kLegacyReferenceName) continue;
      if (WouldNotifyEnd(kLegacyReferenceName, 0)) plan->NotifyEnd.push_back(kLegacyReferenceName);
      others.erase(it);
      break;
    }
  }
  plan->Changed = true;
  plan->Outcome = others.empty() ? "removed-component" : "removed-reference";
  plan->DecidedBy = others.empty() ? "no other reference remains" : "other references remain";
}

}  // namespace

RunPlan PlanRun(ParseOutcome parse, const RunOptions& options) {
  RunPlan plan;
  if (parse == ParseOutcome::NoOp) {
    plan.Mode = plan.Outcome = "noop";
    plan.DecidedBy = "-o ends the run at once";
    return plan;
  }
  if (parse == ParseOutcome::Usage || !IsValidReferenceRequest(options)) {
    plan.Mode = plan.Outcome = "usage";
    plan.DecidedBy = "the command line is not a valid request";
    return plan;
  }
  plan.HasReference = true;
  plan.Reference = options.ReferenceName;
  const EnvironmentProfile profile = ProbeEnvironment();
  const Flag older_node = IsOlderNode(profile);
  if (older_node && !options.OverOlder && !options.Remove) {
    plan.Mode = "refused";
    plan.Outcome = "refused-older-node";
    plan.DecidedBy = FormatText("an older node (%s) is installed and -g is not given", profile.NodeVersion);
    return plan;
  }
  if (options.Remove)
    PlanRemove(options, older_node, &plan);
  else
    PlanInstall(options, older_node, &plan);
  return plan;
}

std::string PlanText(const RunPlan& plan) {
  auto names = [](const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& name : list) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? std::string("(none)") : text;
  };
  std::string text = "Mode: " + plan.Mode + "\nOutcome: " + plan.Outcome + "\n";
  text += std::string("Changes the machine: ") + (plan.Changed ? "yes" : "no") + "\n";
  text += "Decided by: " + plan.DecidedBy + "\n";
  if (plan.HasReference) text += "Reference: " + plan.Reference + "\n";
  text += "Told \"-e\": " + names(plan.NotifyEnd) + "\n";
  text += "Told \"-b\": " + names(plan.NotifyBegin) + "\n";
  return text;
}

std::string PlanJson(const RunPlan& plan) {
  return "{\"schema\":1,\"mode\":" + JsonString(plan.Mode) + ",\"outcome\":" + JsonString(plan.Outcome) +
         ",\"changed\":" + JsonBool(plan.Changed) + ",\"decided_by\":" + JsonString(plan.DecidedBy) +
         ",\"notify_end\":" + JsonStringList(plan.NotifyEnd) + ",\"notify_begin\":" + JsonStringList(plan.NotifyBegin) +
         ",\"reference\":" + JsonStringOrNull(plan.HasReference, plan.Reference) + "}\n";
}

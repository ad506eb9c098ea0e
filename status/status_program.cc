#include "status/status_program.h"

#include <cstdio>
#include <string>

#include "component/currency_check.h"
#include "component/install.h"
#include "platform/ascii_case.h"
#include "platform/environment_text.h"
#include "platform/machine_reading.h"
#include "services/driver_service.h"
#include "status/machine_access.h"
#include "status/machine_state.h"
#include "status/run_plan.h"
#include "status/state_report.h"
#include "status/status_options.h"

namespace {

constexpr int kDone = 0;
constexpr int kNotInPlace = 1;
constexpr int kBadArguments = 2;

void Print(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

int FailLine(int status, const std::string& reason) {
  fprintf(stderr, "mevrid-status: %s\n", reason.c_str());
  return status;
}

// What one mode read from the machine: the status and the text to print.
struct Answer {
  int Status = kDone;
  std::string Text;
};

// Registered, current as an install would judge it, and its driver defined:
// what a deployment engine's detection rule asks.
Answer Detect(std::string name) {
  for (char& c : name) c = AsciiUpper(c);
  std::string image;
  if (!ReadReferenceImage(name.c_str(), &image)) return {kNotInPlace, ""};
  const char* windows_directory = LookupWindowsDirectory();
  if (windows_directory == nullptr || ChooseInstall(windows_directory, 0).FullInstall) return {kNotInPlace, ""};
  if (ReadDriverServiceState().Presence != DriverPresence::Defined) return {kNotInPlace, ""};
  std::string version;
  ReadRecordedVersion(&version);
  return {kDone, name + ": registered, component " + version + " current, driver service " + kDriverServiceName +
                     " defined\n"};
}

Answer Read(const StatusOptions& options) {
  switch (options.Mode) {
    case StatusMode::Detect:
      return Detect(options.DetectName);
    case StatusMode::Plan: {
      const RunPlan plan = PlanRun(options.ToolParse, options.Tool);
      return {kDone, options.Json ? PlanJson(plan) : PlanText(plan)};
    }
    case StatusMode::Report:
    case StatusMode::Help:
      break;
  }
  const MachineState state = ReadMachineState(!options.ReleaseDirectory.empty());
  return {kDone, options.Json ? StateJson(state) : StateText(state)};
}

}  // namespace

int RunStatus(int argc, char** argv) {
  StatusOptions options;
  std::string error;
  if (!ParseStatusOptions(argc, argv, &options, &error)) return FailLine(kBadArguments, error);
  if (options.Mode == StatusMode::Help) {
    Print(StatusHelpText());
    return kDone;
  }
  if (!options.ReleaseDirectory.empty() && !EnterReleaseDirectory(options.ReleaseDirectory))
    return FailLine(kBadArguments, "cannot enter the release directory " + options.ReleaseDirectory);
  // Printed once the reading is over: a reading that starts over prints once.
  Answer answer;
  if (!ReadMachineWithoutWriting([&] { answer = Read(options); }, &error)) {
    // Nothing is installed where there is no machine: detection says so
    // silently, as it does for a reference that is not in place.
    if (options.Mode == StatusMode::Detect) return kNotInPlace;
    return FailLine(kNotInPlace, error);
  }
  Print(answer.Text);
  return answer.Status;
}

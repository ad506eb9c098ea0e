#include "tests/reliability/fault_scenarios.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/posix/admin.h"
#include "platform/win32.h"
#include "tests/support/service_definitions.h"

namespace reliability {
namespace {

constexpr uint32_t kRunning = 4;
constexpr char kLegacyImage[] = "%SystemRoot%\\mevrid.exe -o";
constexpr char kRollbackOn[] = "MEVRID_ROLLBACK=on";
constexpr time_t kOlderFilesTime = 1451606400;  // 2016-01-01

std::string Entry(const std::string& name, const char* image) { return name + "=" + image; }

bool DefineRunning(const std::string& name, const std::string& display, std::vector<std::string> depends,
                   std::string* error) {
  emu::admin::ServiceSpec spec = testsupport::Service(name, kRunning, display);
  spec.depends = std::move(depends);
  return emu::admin::DefineService(spec, error);
}

// An older managed node as it runs: its agents, SNMP and the DMI service
// layer running, its own copies of the library and the driver, and the
// driver running from its copy. 3.2.1 registers under the node's own key;
// 3.4 under the company's, and keeps one more copy of the library below its
// program files.
bool SeedOlderNode(const OpenedMachine& machine, const std::string& version, std::string* error) {
  std::string registration = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\n\"Version\"=\"" +
                             version + "\"\n\"DMIPath\"=\"C:\\\\DMI\"\n";
  if (version == "3.4")
    registration =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion]\n"
        "\"Version\"=\"3.4\"\n\"PathName\"=\"C:\\\\Program Files\\\\Kelm\\\\ihv\\\\bin\"\n";
  if (!emu::admin::ImportRegText("Windows Registry Editor Version 5.00\n\n" + registration, error)) return false;
  if (!DefineRunning("Gandrel2Service", "", {}, error) || !DefineRunning("Tobrael", "", {}, error) ||
      !DefineRunning("Kelm Baseboard Agent", "", {}, error) ||
      !DefineRunning("Kelm Local Response Agent", "", {"Kelm Baseboard Agent"}, error) ||
      !DefineRunning("SNMP", "SNMP", {}, error) || !DefineRunning("win32sl", "Win32 DMI Service Layer", {}, error))
    return false;
  if (!testsupport::WriteFile(machine.Host("C:\\WINDOWS\\system32\\qelmot32.dll"), "old library") ||
      !testsupport::WriteFile(machine.Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys"), "old driver") ||
      (version == "3.4" &&
       !testsupport::WriteFile(machine.Host("C:\\Program Files\\Kelm\\bin\\qelmot32.dll"), "program files library"))) {
    *error = "cannot write the older node's files";
    return false;
  }
  return emu::admin::DefineService(testsupport::DriverService(kRunning), error);
}

// The pre-processors record into dir/record.txt.
std::vector<std::string> RecordEnvironment(const std::string& dir) {
  return {"MEVRID_RECORD_FILE=" + dir + "/record.txt"};
}

// The installed files of an older version, with bytes and a time of their
// own, so that an upgrade that replaced some of them, or put them back,
// shows in the files.
bool PutOlderFiles(const OpenedMachine& machine, const std::string& version) {
  const struct timespec written[2] = {{kOlderFilesTime, 0}, {kOlderFilesTime, 0}};
  for (const char* path : kComponentFilePaths) {
    const std::string host = machine.Host(path);
    if (!testsupport::WriteFile(host, version + " " + path) || utimensat(AT_FDCWD, host.c_str(), written, 0) != 0)
      return false;
  }
  return true;
}

bool Install(const Lab& lab, const std::string& dir, const std::string& name, const char* image, std::string* error) {
  testsupport::ProcessResult run = RunTool(lab, dir, {"-k", name, "-p", image}, RecordEnvironment(dir));
  if (run.status == 0) return true;
  *error = "preparing install of " + name + " failed:\n" + run.out + run.err;
  return false;
}

// Whether the interrupted run left the removal of `removed` to be finished:
// its reference still registered, the change marker naming it, or (where
// the removal takes the component away) the component key still there.
// Its command run again must then end with status 0.
bool RemovalLeftUnfinished(const std::string& dir, const std::string& removed, bool component_goes) {
  if (removed.empty()) return false;
  OpenedMachine machine(dir);
  for (const std::string& entry : RegisteredReferences())
    if (entry.rfind(removed + "=", 0) == 0) return true;
  if (component_goes && KeyExists(kComponentKey)) return true;
  const std::string marker = "\\" + emu::admin::ReadString(kComponentKey, "ChangeInProgress") + "\\";
  return marker.find("\\Remove " + removed + "\\") != std::string::npos;
}

}  // namespace

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << ScenarioLabel(scenario); }

std::string ScenarioLabel(const Scenario& scenario) {
  std::string label = scenario.name;
  for (const std::string& entry : scenario.env) label += " " + entry;
  return label;
}

std::string ScenarioTestName(const Scenario& scenario) {
  std::string name;
  for (char c : scenario.name) name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

std::vector<Scenario> FaultScenarios() {
  return {
      {"first-install", {"-k", "alpha", "-p", kAlphaImage}, {{}, "", Entry("ALPHA", kAlphaImage)}},
      {"upgrade-over-3.9",
       {"-k", "gamma", "-p", kGammaImage},
       {{Entry("ALPHA", kAlphaImage), Entry("BETA", kBetaImage)}, "", Entry("GAMMA", kGammaImage)}},
      {"legacy-over-3.2.1", {"-k", "alpha", "-p", kAlphaImage, "-g"}, {{}, "", Entry("ALPHA", kAlphaImage)}},
      {"legacy-over-3.4", {"-k", "alpha", "-p", kAlphaImage, "-g"}, {{}, "", Entry("ALPHA", kAlphaImage)}},
      {"remove-one-of-two", {"-k", "alpha", "-r"}, {{Entry("BETA", kBetaImage)}, "ALPHA", ""}, true},
      {"remove-last", {"-k", "alpha", "-r"}, {{}, "ALPHA", ""}, true},
      {"remove-beside-legacy", {"-k", "alpha", "-r"}, {{}, "ALPHA", ""}, true},
  };
}

std::vector<Scenario> RollbackScenarios() {
  std::vector<Scenario> installs;
  for (Scenario scenario : FaultScenarios()) {
    if (scenario.expect.installed.empty()) continue;
    scenario.env.push_back(kRollbackOn);
    installs.push_back(scenario);
  }
  return installs;
}

bool RollsBack(const Scenario& scenario) {
  return std::find(scenario.env.begin(), scenario.env.end(), kRollbackOn) != scenario.env.end();
}

FileScope ScopeOf(const Scenario& scenario) {
  return RollsBack(scenario) ? FileScope::kWholeDrive : FileScope::kWindowsDirectory;
}

bool PrepareScenario(const Lab& lab, const Scenario& scenario, const std::string& dir, std::string* error) {
  {
    OpenedMachine machine(dir, true);
    if (!machine.ok()) {
      *error = "cannot create the machine";
      return false;
    }
    for (const char* product : {"Alpha", "Beta", "Gamma"}) {
      if (!PutHelper(machine, "record_args", std::string("C:\\Products\\") + product + "\\pre.exe")) {
        *error = "cannot place the record_args helper";
        return false;
      }
    }
    const std::string legacy = "legacy-over-";
    if (scenario.name.rfind(legacy, 0) == 0 && !SeedOlderNode(machine, scenario.name.substr(legacy.size()), error))
      return false;
  }
  const std::string& name = scenario.name;
  if (name == "upgrade-over-3.9" || name == "remove-one-of-two" || name == "remove-last") {
    if (!Install(lab, dir, "alpha", kAlphaImage, error)) return false;
  }
  if (name == "upgrade-over-3.9" || name == "remove-one-of-two") {
    if (!Install(lab, dir, "beta", kBetaImage, error)) return false;
  }
  // The legacy reference that "-g" left on a node no longer older: the
  // removal of ALPHA drops it, and the component with it, silently.
  if (name == "remove-beside-legacy") {
    if (!Install(lab, dir, "alpha", kAlphaImage, error) || !Install(lab, dir, "bromveld", kLegacyImage, error))
      return false;
  }
  if (name == "upgrade-over-3.9") {
    OpenedMachine machine(dir);
    if (!emu::admin::KeyExists(kVersionKey) || !emu::admin::SetValue(kVersionKey, "Version", REG_SZ, "3.9")) {
      *error = "cannot record version 3.9";
      return false;
    }
    if (!PutOlderFiles(machine, "3.9")) {
      *error = "cannot write the files of 3.9";
      return false;
    }
  }
  // What the preparation's own runs recorded is not the scenario's.
  std::remove((dir + "/record.txt").c_str());
  return true;
}

// The products that the scenario keeps, each of whose last notification (if
// any) must be "-b": one told to let go of the driver and never told to take
// it up again would stay without it.
std::vector<std::string> ProductsLeftWithoutTheDriver(const Scenario& scenario, const std::string& record) {
  std::vector<std::string> kept;
  for (const std::string& entry : scenario.expect.kept) kept.push_back(entry.substr(0, entry.find('=')));
  std::vector<std::string> without;
  for (const std::string& product : kept) {
    std::string last;
    size_t at = 0;
    while (at < record.size()) {
      size_t end = record.find('\n', at);
      if (end == std::string::npos) end = record.size();
      const std::string line = record.substr(at, end - at);
      if (line.rfind(product + " ", 0) == 0) last = line.substr(product.size() + 1);
      at = end + 1;
    }
    if (!last.empty() && last.rfind("-b", 0) != 0) without.push_back(product + " last told \"" + last + "\"");
  }
  return without;
}

namespace {

// An install whose only fault was the driver's refused start succeeds and
// leaves the driver stopped; a later registration does not retry the load,
// and the next restart starts the automatic-start driver. That is the
// repaired state of such a run, the driver's state aside.
bool DriverLeftStoppedForTheRestart(const EndState& expected, EndState state) {
  const std::string stopped = "vtrin stopped ";
  const size_t at = state.services.find(stopped);
  if (at == std::string::npos) return false;
  state.services.replace(at, stopped.size(), "vtrin running ");
  return state == expected;
}

}  // namespace

bool CheckFollowingRun(const Lab& lab, const Scenario& scenario, const std::string& dir, const EndState& expected,
                       const std::string& where, bool interrupted_failed, const std::string& interrupted_output,
                       std::vector<std::string>* out) {
  const size_t failures_before = out->size();
  const bool removal_left = interrupted_failed && RemovalLeftUnfinished(dir, scenario.expect.removed,
                                                                        expected.component_keys == kNoComponentKey);
  testsupport::ProcessResult again = RunTool(lab, dir, scenario.args, ScenarioEnvironment(scenario, dir));
  OpenedMachine machine(dir);
  if (removal_left && again.status != 0)
    out->push_back("F " + where + "the removal left unfinished, run again, ended with status " +
                   std::to_string(again.status) + ":\n" + again.out);
  for (const std::string& broken : CheckRunInvariants(again, scenario.expect))
    out->push_back("F " + where + "the run that follows: " + broken + "\n--- output:\n" + again.out);
  if (scenario.restart_completes && !Restart()) out->push_back("F " + where + "the restart failed");
  const EndState state = CaptureEndState(ScopeOf(scenario));
  if (!(state == expected) && (interrupted_failed || !DriverLeftStoppedForTheRestart(expected, state))) {
    out->push_back("F " + where + "the run that follows leaves another state:\n" + DescribeDifference(expected, state) +
                   "--- interrupted run:\n" + interrupted_output + "--- following run (status " +
                   std::to_string(again.status) + "):\n" + again.out);
  }
  for (const std::string& product : ProductsLeftWithoutTheDriver(scenario, testsupport::ReadFile(dir + "/record.txt")))
    out->push_back("F " + where + "after the run that follows " + product);
  return out->size() == failures_before;
}

std::vector<std::string> ScenarioEnvironment(const Scenario& scenario, const std::string& dir) {
  std::vector<std::string> env = RecordEnvironment(dir);
  env.insert(env.end(), scenario.env.begin(), scenario.env.end());
  if (RollsBack(scenario)) env.push_back("MEVRID_RESULT_FILE=" + dir + "/result.json");
  return env;
}

}  // namespace reliability

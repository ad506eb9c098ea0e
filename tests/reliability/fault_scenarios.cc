#include "tests/reliability/fault_scenarios.h"

#include <cctype>
#include <cstdio>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "platform/posix/registry_store.h"

namespace reliability {
namespace {

constexpr uint32_t kRunning = 4;

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Entry(const std::string& name, const char* image) { return name + "=" + image; }

bool DefineRunning(const std::string& name, const std::string& display, std::vector<std::string> depends,
                   std::string* error) {
  emu::admin::ServiceSpec spec;
  spec.name = name;
  spec.display = display;
  spec.state = kRunning;
  spec.depends = std::move(depends);
  return emu::admin::DefineService(spec, error);
}

// An older managed node 3.2.1 as it runs: its agents, SNMP and the DMI
// service layer running, its own copies of the library and the driver, and
// the driver running from its copy.
bool SeedOlderNode(const OpenedMachine& machine, std::string* error) {
  if (!emu::admin::ImportRegText("Windows Registry Editor Version 5.00\n\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\n"
                                 "\"Version\"=\"3.2.1\"\n\"DMIPath\"=\"C:\\\\DMI\"\n",
                                 error))
    return false;
  if (!DefineRunning("Gandrel2Service", "", {}, error) || !DefineRunning("Tobrael", "", {}, error) ||
      !DefineRunning("Kelm Baseboard Agent", "", {}, error) ||
      !DefineRunning("Kelm Local Response Agent", "", {"Kelm Baseboard Agent"}, error) ||
      !DefineRunning("SNMP", "SNMP", {}, error) || !DefineRunning("win32sl", "Win32 DMI Service Layer", {}, error))
    return false;
  if (!testsupport::WriteFile(machine.Host("C:\\WINDOWS\\system32\\qelmot32.dll"), "old library") ||
      !testsupport::WriteFile(machine.Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys"), "old driver")) {
    *error = "cannot write the older node's files";
    return false;
  }
  emu::admin::ServiceSpec driver;
  driver.name = "vtrin";
  driver.driver = true;
  driver.image = "System32\\drivers\\vtrin.sys";
  driver.start_type = 2;
  driver.state = kRunning;
  return emu::admin::DefineService(driver, error);
}

bool Install(const Lab& lab, const std::string& dir, const std::string& name, const char* image, std::string* error) {
  testsupport::ProcessResult run = RunTool(lab, dir, {"-k", name, "-p", image}, ScenarioEnvironment(dir));
  if (run.status == 0) return true;
  *error = "preparing install of " + name + " failed:\n" + run.out + run.err;
  return false;
}

}  // namespace

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

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
      {"legacy-over-3.2.1",
       {"-k", "alpha", "-p", kAlphaImage, "-g"},
       {{}, "", Entry("ALPHA", kAlphaImage)},
       false,
       true},
      {"remove-one-of-two",
       {"-k", "alpha", "-r"},
       {{Entry("BETA", kBetaImage)}, "ALPHA", ""},
       true,
       false,
       {"-k", "alpha", "-p", kAlphaImage}},
      {"remove-last", {"-k", "alpha", "-r"}, {{}, "ALPHA", ""}, true, false, {"-k", "alpha", "-p", kAlphaImage}},
  };
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
    if (scenario.name == "legacy-over-3.2.1" && !SeedOlderNode(machine, error)) return false;
  }
  const std::string& name = scenario.name;
  if (name == "upgrade-over-3.9" || name == "remove-one-of-two" || name == "remove-last") {
    if (!Install(lab, dir, "alpha", kAlphaImage, error)) return false;
  }
  if (name == "upgrade-over-3.9" || name == "remove-one-of-two") {
    if (!Install(lab, dir, "beta", kBetaImage, error)) return false;
  }
  if (name == "upgrade-over-3.9") {
    OpenedMachine machine(dir);
    int64_t key = emu::store::FindKey(emu::store::kRootKeyId, kVersionKey);
    if (key == emu::store::kNoKey || !emu::store::SetString(key, "Version", "3.9")) {
      *error = "cannot record version 3.9";
      return false;
    }
  }
  // What the preparation's own runs recorded is not the scenario's.
  std::remove((dir + "/record.txt").c_str());
  return true;
}

FollowingRun CheckFollowingRun(const Lab& lab, const Scenario& scenario, const std::string& dir,
                               const EndState& expected, const std::string& where,
                               const std::string& interrupted_output, std::vector<std::string>* out) {
  bool driver_missing = false;
  if (scenario.refuses_without_driver) {
    OpenedMachine machine(dir);
    emu::admin::ServiceInfo info;
    std::string error;
    driver_missing = !emu::admin::QueryService("vtrin", &info, &error);
  }
  const size_t failures_before = out->size();
  EndState interrupted;
  std::string before_removal;
  if (!scenario.repair_install.empty()) {
    {
      OpenedMachine machine(dir);
      interrupted = CaptureEndState();
    }
    // The reference is registered again (the component installed again
    // where the failed removal took part of it), whatever the failed run did.
    Expectations install_expect = scenario.expect;
    install_expect.removed.clear();
    for (size_t i = 0; i + 1 < scenario.repair_install.size(); ++i)
      if (scenario.repair_install[i] == "-p")
        install_expect.installed = ToUpper(scenario.repair_install[1]) + "=" + scenario.repair_install[i + 1];
    testsupport::ProcessResult install = RunTool(lab, dir, scenario.repair_install, ScenarioEnvironment(dir));
    OpenedMachine machine(dir);
    for (const std::string& broken : CheckRunInvariants(install, install_expect))
      out->push_back("F " + where + "the install that follows: " + broken + "\n--- output:\n" + install.out);
    if (install.status != 0) out->push_back("F " + where + "the install that follows failed:\n" + install.out);
    before_removal = "--- install that follows (status " + std::to_string(install.status) + "):\n" + install.out;
  } else {
    OpenedMachine machine(dir);
    interrupted = CaptureEndState();
  }
  testsupport::ProcessResult again = RunTool(lab, dir, scenario.args, ScenarioEnvironment(dir));
  OpenedMachine machine(dir);
  for (const std::string& broken : CheckRunInvariants(again, scenario.expect))
    out->push_back("F " + where + "the run that follows: " + broken + "\n--- output:\n" + again.out);
  const std::string refusal = "\tERROR: Could not open handle to service - vtrin\n";
  if (driver_missing) {
    if (again.status != 1 || again.out.size() < refusal.size() ||
        again.out.compare(again.out.size() - refusal.size(), refusal.size(), refusal) != 0) {
      out->push_back("F " + where + "without its driver service the run that follows is no refusal:\n" + again.out);
    }
    return out->size() == failures_before ? FollowingRun::DeadEnd : FollowingRun::Failed;
  }
  if (scenario.restart_completes && !Restart()) out->push_back("F " + where + "the restart failed");
  EndState state = CaptureEndState();
  if (!(state == expected) && out->size() == failures_before) {
    const std::string reason = KnownException(scenario, interrupted, expected, state);
    if (!reason.empty()) {
      out->push_back("K " + reason);
      return FollowingRun::Known;
    }
  }
  if (!(state == expected)) {
    out->push_back("F " + where + "the run that follows leaves another state:\n" + DescribeDifference(expected, state) +
                   "--- interrupted run:\n" + interrupted_output + before_removal + "--- following run (status " +
                   std::to_string(again.status) + "):\n" + again.out);
  }
  return out->size() == failures_before ? FollowingRun::Repaired : FollowingRun::Failed;
}

std::string KnownException(const Scenario& scenario, const EndState& interrupted, const EndState& expected,
                           const EndState& repaired) {
  // An install that recorded version 4.0 and (re)created the driver service
  // but did not get it running (its start failed, which fails no install,
  // or the run ended before the start) leaves a current component: the
  // install again finds it current and only registers its reference, and a
  // current component's service is never touched, so the driver stays
  // stopped. Everything but the driver's state must match.
  const std::string running = "\nvtrin running ";
  const std::string stopped = "\nvtrin stopped ";
  auto line_start = [](const std::string& services) { return "\n" + services; };
  if (scenario.repair_install.empty() && interrupted.component_keys.find("\"Version\"=\"4.0\"") != std::string::npos &&
      line_start(interrupted.services).find(stopped) != std::string::npos &&
      repaired.component_keys == expected.component_keys && repaired.files == expected.files) {
    std::string expected_services = line_start(expected.services);
    const size_t at = expected_services.find(running);
    if (at != std::string::npos) {
      expected_services.replace(at, running.size(), stopped);
      if (expected_services == line_start(repaired.services))
        return "a current component's driver service left stopped by the interrupted install stays stopped: "
               "the install again only registers its reference and touches no service";
    }
  }
  return "";
}

std::vector<std::string> ScenarioEnvironment(const std::string& dir) {
  return {"MEVRID_RECORD_FILE=" + dir + "/record.txt"};
}

}  // namespace reliability

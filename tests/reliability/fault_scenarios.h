// The install and removal scenarios that the fault matrix and the crash test
// drive through every platform call: each is a machine prepared once (by the
// tool itself where it can be) and one command run on copies of it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tests/reliability/reliability_support.h"

namespace reliability {

inline constexpr char kAlphaImage[] = "C:\\Products\\Alpha\\pre.exe ALPHA";
inline constexpr char kBetaImage[] = "C:\\Products\\Beta\\pre.exe BETA";
inline constexpr char kGammaImage[] = "C:\\Products\\Gamma\\pre.exe GAMMA";

struct Scenario {
  std::string name;
  std::vector<std::string> args;  // the command run on the prepared machine
  Expectations expect;
  // A removal may leave work to the next restart (a running driver marked
  // for deletion, files in use set aside): its end state is compared after
  // a restart.
  bool restart_completes = false;
  // "-g" refuses an older node whose driver service is missing (its legacy
  // stop counts the driver's stop), and an install interrupted between
  // deleting the old driver service and creating the new one leaves it so.
  bool refuses_without_driver = false;
  // A removal's repair: a plain install of the same reference, then the
  // removal again. Empty for an install, whose repair is the install again.
  std::vector<std::string> repair_install = {};
};

// The scenario's name, not its bytes, in test messages.
void PrintTo(const Scenario& scenario, std::ostream* os);
// A test name made of the scenario's name.
std::string ScenarioTestName(const Scenario& scenario);

// The five scenarios: a first install; an upgrade over 3.9 with two
// references whose pre-processors record their calls; "-g" over an older
// managed node 3.2.1; removing one of two references; removing the last.
std::vector<Scenario> FaultScenarios();

// Prepares the scenario's machine at dir (created there). false, with the
// reason in *error, when the preparation itself fails.
bool PrepareScenario(const Lab& lab, const Scenario& scenario, const std::string& dir, std::string* error);

// Known: the runs that follow leave a state that KnownException explains
// (its reason is added to *out as a "K <reason>" line).
enum class FollowingRun { Repaired, DeadEnd, Known, Failed };

// The runs that follow a fault or a crash on the machine at dir, without
// faults: the install again, or for a removal a plain install of the same
// reference and then the removal again; they must leave `expected`. The
// exceptions are the documented dead end of refuses_without_driver (then the
// run must be exactly that refusal) and the known ones of KnownException.
// Failures go to *out as "F <where><what>" lines.
FollowingRun CheckFollowingRun(const Lab& lab, const Scenario& scenario, const std::string& dir,
                               const EndState& expected, const std::string& where,
                               const std::string& interrupted_output, std::vector<std::string>* out);

// Why the machine `interrupted` (as the failed run left it) cannot be brought
// to `expected` by the runs that follow, which left `repaired`, when that is
// a known consequence of the tool's documented behaviour; "" otherwise. Only
// the exact difference the reason explains is accepted.
std::string KnownException(const Scenario& scenario, const EndState& interrupted, const EndState& expected,
                           const EndState& repaired);

// The environment of a run on the machine at dir: the pre-processors record
// into dir/record.txt.
std::vector<std::string> ScenarioEnvironment(const std::string& dir);

}  // namespace reliability

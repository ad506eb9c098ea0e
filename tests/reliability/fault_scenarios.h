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
  // Extra environment of the command (not of the preparation), "NAME=VALUE".
  std::vector<std::string> env = {};
};

// The scenario's name and extra environment, not its bytes, in test messages.
void PrintTo(const Scenario& scenario, std::ostream* os);
std::string ScenarioLabel(const Scenario& scenario);
// A test name made of the scenario's name.
std::string ScenarioTestName(const Scenario& scenario);

// The seven scenarios: a first install; an upgrade over 3.9 (its own files)
// with two references whose pre-processors record their calls; "-g" over an
// older managed node 3.2.1, and over 3.4 (a copy of the library below its
// program files); removing one of two references; removing the last;
// removing the last product's beside the legacy reference.
std::vector<Scenario> FaultScenarios();

// The installs of FaultScenarios() (first, upgrade, "-g" over 3.2.1 and
// 3.4) run all or nothing (MEVRID_ROLLBACK=on): a failed install puts the
// machine back as it was.
std::vector<Scenario> RollbackScenarios();
bool RollsBack(const Scenario& scenario);
// The files a state of the scenario holds: the whole drive where the
// command promises to leave no file aside.
FileScope ScopeOf(const Scenario& scenario);

// Prepares the scenario's machine at dir (created there). false, with the
// reason in *error, when the preparation itself fails.
bool PrepareScenario(const Lab& lab, const Scenario& scenario, const std::string& dir, std::string* error);

// The run that follows a fault or a crash on the machine at dir: the same
// command again, without faults. It must keep the run invariants and leave
// `expected`, every product that stays last told "-b"; after a removal that
// failed (or was killed) and left its work unfinished, it must end with 0.
// Failures go to *out as "F <where><what>" lines; true when there was none.
bool CheckFollowingRun(const Lab& lab, const Scenario& scenario, const std::string& dir, const EndState& expected,
                       const std::string& where, bool interrupted_failed, const std::string& interrupted_output,
                       std::vector<std::string>* out);

// The environment of the scenario's command on the machine at dir: the
// pre-processors record into dir/record.txt, and the scenario's own entries;
// a run that rolls back writes its run record to dir/result.json, which
// tells a run that put the machine back from one that changed nothing.
std::vector<std::string> ScenarioEnvironment(const Scenario& scenario, const std::string& dir);

}  // namespace reliability

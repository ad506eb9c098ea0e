// Every platform call of an install and a removal, failing in turn: the
// scenario runs once with its calls counted, then once with its 1st, 2nd, ...
// call failing (that call alone, and that call with every later one) until a
// run meets no fault. After each run the exit status and the summary agree,
// no reference but the one removed is lost, a reported success never leaves
// references without their component, and the database is whole. Then the
// same command run once more without faults leaves exactly what a run
// without faults leaves, every product that stays last told "-b".
// An install run all or nothing (MEVRID_ROLLBACK=on) promises more of a
// single failing call: the machine is left as it was before the run, every
// product told "-e" told "-b" after it, or as a run without faults leaves it;
// only where the new component is whole (a failure past the point of no
// return, or a fault the run bore) may it leave another state, which the run
// that follows finishes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>

#include "platform/posix/admin.h"
#include "platform/win32.h"
#include "tests/reliability/fault_scenarios.h"
#include "tests/reliability/rollback_checks.h"
#include "tests/support/test_machine.h"

namespace reliability {
namespace {

struct Totals {
  int points = 0;
  int reruns = 0;
  int passed = 0;
  // Single failing calls of an install run all or nothing, by what they left.
  int rolled_back = 0;
  int unchanged = 0;  // failed before the install changed anything
  int completed = 0;
  std::vector<std::string> finished_later;  // the new component whole, the rest finished later
  std::vector<std::string> failures;
};

// What a single failing call left of an install run all or nothing: "B" the
// machine put back as before (the run record says it rolled back), "U" as
// before because the run failed before its install changed anything, "E" as
// after a run without faults, "N <what>" the new component whole with
// something else left undone (a failure past the point of no return, or a
// fault the run bore and went another way) that the run that follows
// finished; anything else is a failure.
void JudgeAllOrNothing(const Lab& lab, const Scenario& scenario, const std::string& dir, const EndState& before,
                       const EndState& expected, const EndState& state, const std::string& where,
                       const testsupport::ProcessResult& run, std::vector<std::string>* out) {
  const std::string output = "(status " + std::to_string(run.status) + ")\n" + run.out;
  for (const std::string& product : ProductsCutOff(testsupport::ReadFile(dir + "/record.txt")))
    out->push_back("F " + where + product + "\n--- output " + output);
  const bool rolled_back =
      testsupport::ReadFile(dir + "/result.json").find("\"rolled_back\":true") != std::string::npos;
  if (rolled_back && !(state == before))
    out->push_back("F " + where + "the run record says rolled back, but the machine is not as before");
  if (state == before) {
    out->push_back(rolled_back ? "B" : "U");
  } else if (state == expected) {
    out->push_back("E");
  } else if (!(ComponentPart(state, before) == ComponentPart(expected, before))) {
    std::string problems;
    for (const std::string& problem : ComponentSetProblems(state, before, expected)) problems += "; " + problem;
    out->push_back("F " + where + "the machine is neither as before nor as after" + problems +
                   "\n--- against before the run:\n" + DescribeDifference(before, state) +
                   "--- against a run without faults:\n" + DescribeDifference(expected, state) + "--- output " +
                   output);
  } else if (CheckFollowingRun(lab, scenario, dir, expected, where, run.status != 0, output, out)) {
    const std::string difference = DescribeDifference(expected, state);
    out->push_back("N " + where + "status " + std::to_string(run.status) + ", " +
                   difference.substr(0, difference.find('\n')));
  }
}

// One fault point: a copy of the prepared machine, the command with call
// `nth` failing (and, if `always`, every later call), then the checks and the
// run that follows. `repaired` holds the digests of machines from which the
// run that follows is known to give the expected state (many faults leave
// the same machine behind). Returns false when the fault never fired: the run
// made fewer calls, and so will every run with a later fault point.
bool TryFaultPoint(const Lab& lab, const Scenario& scenario, const std::string& prepared, const EndState& before,
                   const EndState& expected, int64_t nth, bool always, std::set<size_t>* repaired,
                   std::vector<std::string>* out) {
  const std::string dir = lab.Path(scenario.name + (always ? "-always-" : "-once-") + std::to_string(nth));
  const std::string where =
      scenario.name + ", call " + std::to_string(nth) + (always ? " and every later call" : "") + " failing: ";
  if (!CopyMachine(prepared, dir)) {
    out->push_back("F " + where + "cannot copy the prepared machine");
    return false;
  }
  {
    OpenedMachine machine(dir);
    emu::AddFaultRule("*", "", ERROR_ACCESS_DENIED, nth, always);
  }
  const std::vector<std::string> env = ScenarioEnvironment(scenario, dir);
  testsupport::ProcessResult run = RunTool(lab, dir, scenario.args, env);
  const bool all_or_nothing = RollsBack(scenario) && !always;
  bool fired = false;
  size_t digest = 0;
  EndState state;
  {
    OpenedMachine machine(dir);
    fired = FirstRuleHits() >= nth;
    emu::ClearFaultRules();
    for (const std::string& broken : CheckRunInvariants(run, scenario.expect))
      out->push_back("F " + where + broken + "\n--- output:\n" + run.out);
    digest = MachineDigest();
    if (all_or_nothing) state = CaptureEndState(ScopeOf(scenario));
  }
  if (fired) out->push_back("T");
  if (fired && all_or_nothing) {
    JudgeAllOrNothing(lab, scenario, dir, before, expected, state, where, run, out);
  } else if (fired && repaired->count(digest) == 0) {
    out->push_back("R");
    const std::string output = "(status " + std::to_string(run.status) + ")\n" + run.out;
    if (CheckFollowingRun(lab, scenario, dir, expected, where, run.status != 0, output, out)) {
      repaired->insert(digest);
      out->push_back("P");
    }
  }
  testsupport::RemoveTree(dir);
  return fired;
}

class FaultMatrix : public testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrix, EveryFailingCallKeepsTheInvariantsAndTheRunsThatFollowRepair) {
  const Scenario& scenario = GetParam();
  Lab lab("mevrid-fault-matrix");
  const std::string prepared = lab.Path("prepared");
  std::string error;
  ASSERT_TRUE(PrepareScenario(lab, scenario, prepared, &error)) << error;

  // The run without faults: its calls and the state it leaves.
  const std::string counted = lab.Path("counted");
  ASSERT_TRUE(CopyMachine(prepared, counted));
  {
    OpenedMachine machine(counted);
    emu::SetSetting("count-calls", "1");
  }
  testsupport::ProcessResult run = RunTool(lab, counted, scenario.args, ScenarioEnvironment(scenario, counted));
  EndState before, expected;
  int64_t calls = 0;
  std::set<size_t> repaired;
  {
    OpenedMachine machine(prepared);
    // The run that follows a fault that changed nothing is this very run.
    repaired.insert(MachineDigest());
    before = CaptureEndState(ScopeOf(scenario));
  }
  {
    OpenedMachine machine(counted);
    calls = TotalCallCount();
    emu::SetSetting("count-calls", "0");
    ASSERT_EQ(run.status, 0) << run.out;
    std::vector<std::string> broken = CheckRunInvariants(run, scenario.expect);
    ASSERT_TRUE(broken.empty()) << broken[0];
    if (scenario.restart_completes) {
      ASSERT_TRUE(Restart());
    }
    expected = CaptureEndState(ScopeOf(scenario));
  }
  ASSERT_GT(calls, 0);

  const int stride = FaultStride();
  Totals totals;
  for (bool always : {false, true}) {
    std::vector<std::string> lines = RunInWorkers(WorkerCount(), [&](int i, std::vector<std::string>* out) {
      return TryFaultPoint(lab, scenario, prepared, before, expected, 1 + static_cast<int64_t>(i) * stride, always,
                           &repaired, out);
    });
    for (const std::string& line : lines) {
      if (line == "T")
        ++totals.points;
      else if (line == "R")
        ++totals.reruns;
      else if (line == "P")
        ++totals.passed;
      else if (line == "B")
        ++totals.rolled_back;
      else if (line == "U")
        ++totals.unchanged;
      else if (line == "E")
        ++totals.completed;
      else if (line[0] == 'N')
        totals.finished_later.push_back(line.substr(2));
      else
        totals.failures.push_back(line.substr(2));
    }
  }
  if (RollsBack(scenario)) {
    printf(
        "fault matrix %s: %lld calls without faults, %d fault points tried (stride %d); one call failing: %d rolled"
        " back, %d failed before the install changed anything, %d completed, %zu completed in part (the new component "
        "whole)"
        " and finished by the run that follows; that call and every later one failing: %d runs that follow, %d of"
        " them passed; %zu failures\n",
        ScenarioLabel(scenario).c_str(), static_cast<long long>(calls), totals.points, stride, totals.rolled_back,
        totals.unchanged, totals.completed, totals.finished_later.size(), totals.reruns, totals.passed,
        totals.failures.size());
    for (const std::string& point : totals.finished_later) printf("  completed in part: %s\n", point.c_str());
  } else {
    printf(
        "fault matrix %s: %lld calls without faults, %d fault points tried (stride %d), %d runs that follow"
        " (the rest left a machine already repaired once), %d of them passed, %zu failures\n",
        scenario.name.c_str(), static_cast<long long>(calls), totals.points, stride, totals.reruns, totals.passed,
        totals.failures.size());
  }
  EXPECT_GE(totals.points, 2 * calls / stride);
  EXPECT_EQ(totals.passed, totals.reruns);
  // Every failure in one line, the first few in full.
  for (const std::string& failure : totals.failures) printf("  %s\n", failure.substr(0, failure.find('\n')).c_str());
  for (size_t i = 0; i < totals.failures.size() && i < 5; ++i) ADD_FAILURE() << totals.failures[i];
  EXPECT_TRUE(totals.failures.empty()) << totals.failures.size() << " failures";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultMatrix, testing::ValuesIn(FaultScenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return ScenarioTestName(info.param); });
INSTANTIATE_TEST_SUITE_P(RollbackMode, FaultMatrix, testing::ValuesIn(RollbackScenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return ScenarioTestName(info.param); });

}  // namespace
}  // namespace reliability

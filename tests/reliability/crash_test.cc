// The tool killed (SIGKILL) at every platform call of an install and a
// removal, and once from outside while it waits for a pre-processor: the
// database stays whole, no reference but the one removed is lost, and the
// same command run once more leaves exactly what an uninterrupted run
// leaves, every product that stays last told "-b". An install run all or
// nothing (MEVRID_ROLLBACK=on) never loses an old file before the new set is
// whole, and the run that follows leaves neither a mixed set nor a file
// kept aside.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

#include "platform/posix/admin.h"
#include "tests/reliability/fault_scenarios.h"
#include "tests/reliability/rollback_checks.h"

namespace reliability {

namespace {

constexpr int kKilled = 128 + SIGKILL;

// The checks of a machine that a crash may have left anywhere: whole, and
// holding every reference the command was not about.
std::vector<std::string> CheckAfterCrash(const Expectations& expect) {
  std::vector<std::string> broken;
  std::string integrity = IntegrityCheck();
  if (integrity != "ok") broken.push_back("integrity check: " + integrity);
  const std::vector<std::string> references = RegisteredReferences();
  for (const std::string& kept : expect.kept)
    if (std::find(references.begin(), references.end(), kept) == references.end())
      broken.push_back("lost the reference " + kept);
  return broken;
}

// A scenario's prepared machine, its state, and what the command leaves on
// a copy of it without faults, in how many platform calls.
struct Baseline {
  std::string prepared;
  EndState before;
  EndState expected;
  int64_t calls = 0;
};

// One crash point: the tool dies at call `nth`. false once it makes fewer.
bool TryCrashPoint(const Lab& lab, const Scenario& scenario, const Baseline& base, int64_t nth,
                   std::vector<std::string>* out) {
  const std::string& prepared = base.prepared;
  const EndState& expected = base.expected;
  const std::string dir = lab.Path(scenario.name + "-crash-" + std::to_string(nth));
  const std::string where = scenario.name + ", killed at call " + std::to_string(nth) + ": ";
  if (!CopyMachine(prepared, dir)) {
    out->push_back("F " + where + "cannot copy the prepared machine");
    return false;
  }
  {
    OpenedMachine machine(dir);
    emu::AddFaultRule("*", "", emu::kFaultCrashHere, nth, false);
  }
  testsupport::ProcessResult run = RunTool(lab, dir, scenario.args, ScenarioEnvironment(scenario, dir));
  bool fired = false;
  {
    OpenedMachine machine(dir);
    fired = FirstRuleHits() >= nth;
    emu::ClearFaultRules();
    if (fired && run.status != kKilled)
      out->push_back("F " + where + "the tool was not killed (status " + std::to_string(run.status) + ")");
    if (!fired && run.status != 0) out->push_back("F " + where + "a run past the last call failed:\n" + run.out);
    for (const std::string& broken : CheckAfterCrash(scenario.expect)) out->push_back("F " + where + broken);
    if (fired && RollsBack(scenario)) {
      for (const std::string& lost : OldFilesLost(CaptureEndState(ScopeOf(scenario)), base.before, expected))
        out->push_back("F " + where + lost);
    }
  }
  if (fired) {
    out->push_back("T");
    bool passed = CheckFollowingRun(lab, scenario, dir, expected, where, true, run.out, out);
    if (RollsBack(scenario)) {
      OpenedMachine machine(dir);
      for (const std::string& problem :
           ComponentSetProblems(CaptureEndState(ScopeOf(scenario)), base.before, expected)) {
        out->push_back("F " + where + "after the run that follows, " + problem);
        passed = false;
      }
    }
    if (passed) out->push_back("P");
  }
  testsupport::RemoveTree(dir);
  return fired;
}

// The state the command leaves without faults, on a copy of the prepared
// machine; *calls is how many platform calls it made.
bool ExpectedState(const Lab& lab, const Scenario& scenario, const std::string& prepared, EndState* expected,
                   int64_t* calls) {
  const std::string dir = lab.Path(scenario.name + "-expected");
  if (!CopyMachine(prepared, dir)) return false;
  {
    OpenedMachine machine(dir);
    emu::SetSetting("count-calls", "1");
  }
  testsupport::ProcessResult run = RunTool(lab, dir, scenario.args, ScenarioEnvironment(scenario, dir));
  OpenedMachine machine(dir);
  *calls = TotalCallCount();
  if (run.status != 0) return false;
  if (scenario.restart_completes && !Restart()) return false;
  *expected = CaptureEndState(ScopeOf(scenario));
  return true;
}

void PrepareBaseline(const Lab& lab, const Scenario& scenario, Baseline* base) {
  base->prepared = lab.Path("prepared");
  std::string error;
  ASSERT_TRUE(PrepareScenario(lab, scenario, base->prepared, &error)) << error;
  {
    OpenedMachine machine(base->prepared);
    base->before = CaptureEndState(ScopeOf(scenario));
  }
  ASSERT_TRUE(ExpectedState(lab, scenario, base->prepared, &base->expected, &base->calls));
}

class CrashAtEveryCall : public testing::TestWithParam<Scenario> {};

TEST_P(CrashAtEveryCall, KeepsTheDatabaseWholeAndTheRunsThatFollowFinish) {
  const Scenario& scenario = GetParam();
  Lab lab("mevrid-crash");
  Baseline base;
  ASSERT_NO_FATAL_FAILURE(PrepareBaseline(lab, scenario, &base));

  const int stride = FaultStride();
  std::vector<std::string> lines = RunInWorkers(WorkerCount(), [&](int i, std::vector<std::string>* out) {
    return TryCrashPoint(lab, scenario, base, 1 + static_cast<int64_t>(i) * stride, out);
  });
  int points = 0, passed = 0;
  std::vector<std::string> failures;
  for (const std::string& line : lines) {
    if (line == "T")
      ++points;
    else if (line == "P")
      ++passed;
    else
      failures.push_back(line.substr(2));
  }
  printf(
      "crash test %s: %lld calls, killed at %d of them (stride %d), %d finished by the run that follows,"
      " %zu failures\n",
      ScenarioLabel(scenario).c_str(), static_cast<long long>(base.calls), points, stride, passed, failures.size());
  EXPECT_GE(points, base.calls / stride);
  EXPECT_EQ(passed, points);
  for (const std::string& failure : failures) printf("  %s\n", failure.substr(0, failure.find('\n')).c_str());
  for (size_t i = 0; i < failures.size() && i < 5; ++i) ADD_FAILURE() << failures[i];
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CrashAtEveryCall, testing::ValuesIn(FaultScenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return ScenarioTestName(info.param); });
INSTANTIATE_TEST_SUITE_P(RollbackMode, CrashAtEveryCall, testing::ValuesIn(RollbackScenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return ScenarioTestName(info.param); });

// The processes whose parent is pid.
std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (struct dirent* entry = readdir(proc)) {
    if (!isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    // "pid (comm) state ppid ...": the name may hold blanks, the last ')' ends it.
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == pid)
      children.push_back(static_cast<pid_t>(atoi(entry->d_name)));
  }
  closedir(proc);
  return children;
}

// Killed from outside while a pre-processor runs and the tool waits for it:
// the first product's "-e" of an upgrade sleeps, the tool is killed during
// that wait, and the run that follows finishes the upgrade.
TEST(CrashWhileWaiting, AKillDuringAPreProcessorsWaitIsRepairedByTheNextRun) {
  Lab lab("mevrid-crash-wait");
  Scenario scenario;
  for (const Scenario& candidate : FaultScenarios())
    if (candidate.name == "upgrade-over-3.9") scenario = candidate;
  Baseline base;
  ASSERT_NO_FATAL_FAILURE(PrepareBaseline(lab, scenario, &base));

  const std::string dir = lab.Path("killed");
  ASSERT_TRUE(CopyMachine(base.prepared, dir));
  {
    // The tool really waits (up to a minute) for a pre-processor that runs.
    OpenedMachine machine(dir);
    emu::SetSetting("process-real-wait-ms", "60000");
  }
  std::vector<std::string> env = ScenarioEnvironment(scenario, dir);
  env.push_back("MEVRID_RECORD_SLEEP_MS=30000");
  pid_t tool = fork();
  if (tool == 0) {
    testsupport::ProcessResult run = RunTool(lab, dir, scenario.args, env);
    _exit(run.status == kKilled ? 0 : 1);
  }
  ASSERT_GT(tool, 0);
  // The tool is the worker's child; its pre-processor is the tool's child.
  pid_t mevrid = 0, pre_processor = 0;
  for (int tries = 0; tries < 2000 && pre_processor == 0; ++tries) {
    if (mevrid == 0) {
      std::vector<pid_t> children = ChildrenOf(tool);
      if (!children.empty()) mevrid = children[0];
    } else {
      // Once the child runs the pre-processor's image, the tool is waiting.
      for (pid_t child : ChildrenOf(mevrid)) {
        char image[4096];
        ssize_t n = readlink(("/proc/" + std::to_string(child) + "/exe").c_str(), image, sizeof image - 1);
        if (n > 0 && std::string(image, static_cast<size_t>(n)).find("pre.exe") != std::string::npos)
          pre_processor = child;
      }
    }
    if (pre_processor == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_NE(pre_processor, 0) << "the pre-processor never started";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(kill(mevrid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(tool, &status, 0), tool);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the tool ended otherwise than killed";
  // The pre-processor outlives the tool, as a started program does on
  // Windows; the test ends it.
  kill(pre_processor, SIGKILL);

  {
    OpenedMachine machine(dir);
    for (const std::string& broken : CheckAfterCrash(scenario.expect)) ADD_FAILURE() << broken;
    // Nothing had been replaced yet: the machine is as it was prepared.
    EXPECT_EQ(RecordedVersion(), "3.9");
  }
  std::vector<std::string> out;
  EXPECT_TRUE(CheckFollowingRun(lab, scenario, dir, base.expected, "killed while waiting: ", true, "", &out));
  for (const std::string& failure : out) ADD_FAILURE() << failure.substr(2);
}

}  // namespace

}  // namespace reliability

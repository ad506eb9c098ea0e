// StopServiceTree and StopSingleService against the emulated manager on a
// virtual clock: every dot is one second of machine time.
#include "services/stop_service.h"

#include "platform/handles.h"
#include "tests/support/service_fixture.h"

namespace servicetest {
namespace {

std::string Dots(int n) { return std::string(static_cast<size_t>(n), '.'); }

// The display names of a service's active dependents, in the manager's order.
std::vector<std::string> ActiveDependentDisplays(const char* name) {
  std::vector<std::string> displays;
  ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScopedService service(OpenServiceA(manager.Get(), name, SERVICE_ALL_ACCESS));
  alignas(ENUM_SERVICE_STATUSA) BYTE buffer[16384];
  DWORD needed = 0, count = 0;
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer);
  if (!EnumDependentServicesA(service.Get(), SERVICE_ACTIVE, entries, sizeof buffer, &needed, &count)) return {};
  for (DWORD i = 0; i < count; ++i) displays.push_back(entries[i].lpDisplayName);
  return displays;
}

class StopServiceTreeTest : public ServiceTest {
 protected:
  Outcome Stop(const char* name = "Alpha", const char* display = "Alpha Display", Flag verbose = 1) {
    return Run([&] { return StopServiceTree(name, display, verbose); });
  }
  // The service handle goes before the manager, and nothing stays open.
  void ExpectClosedInOrder(const std::string& service = "Alpha") {
    long service_close = Index("CloseServiceHandle " + service);
    long manager_close = Index("CloseServiceHandle SCManager");
    ASSERT_GE(service_close, 0);
    EXPECT_LT(service_close, manager_close);
    ExpectBalanced();
  }
};

TEST_F(StopServiceTreeTest, ActiveDependentsAreStoppedFirstEachOnItsOwnLine) {
  Define(Service("Alpha", SERVICE_RUNNING));
  auto beta = Service("Beta", SERVICE_RUNNING, "Beta Display");
  beta.depends = {"Alpha"};
  beta.stop_ms = 2000;
  Define(beta);
  Define(DependsOn(Service("Gamma", SERVICE_RUNNING, "Gamma Display"), {"Alpha"}));
  Define(Service("Idle", SERVICE_STOPPED));  // not active: not listed
  std::vector<std::string> order = ActiveDependentDisplays("Alpha");
  ASSERT_EQ(order.size(), 2u);
  std::string expected;
  for (const std::string& display : order)
    expected += "Stopping Service (" + display + ")" + (display == "Beta Display" ? ".." : "") + "\n";
  expected += "Stopping Service (Alpha Display)\n";
  Outcome o = Stop();
  EXPECT_EQ(o.out, expected);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(StateOf("Beta"), SERVICE_STOPPED);
  EXPECT_EQ(StateOf("Gamma"), SERVICE_STOPPED);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_STOPPED);
  // Each nested stop opens its own manager while the outer one stays open,
  // and closes its service before its manager.
  EXPECT_EQ(Calls("OpenSCManagerA").size(), 3u);
  EXPECT_LT(Index("CloseServiceHandle Beta"), Index("CloseServiceHandle Alpha"));
  ExpectBalanced();
}

TEST_F(StopServiceTreeTest, DependentThatWillNotStopDoesNotEndTheWalk) {
  Define(Service("Alpha", SERVICE_RUNNING));
  auto beta = Service("Beta", SERVICE_RUNNING);
  beta.depends = {"Alpha"};
  beta.refuse_stop = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  Define(beta);
  Define(DependsOn(Service("Gamma", SERVICE_RUNNING), {"Alpha"}));
  Outcome o = Stop();
  // Both dependents get their turn; the service itself is then refused
  // because Beta still runs.
  EXPECT_NE(o.out.find("Stopping Service (Beta)\n"), std::string::npos);
  EXPECT_NE(o.out.find("Stopping Service (Gamma)\n"), std::string::npos);
  EXPECT_TRUE(o.out.ends_with("Stopping Service (Alpha Display)\n"));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Gamma"), SERVICE_STOPPED);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  ExpectBalanced();
}

TEST_F(StopServiceTreeTest, MoreDependentsThanFitLeaveTheServiceRunning) {
  Define(Service("Alpha", SERVICE_RUNNING));
  for (int i = 0; i < 30; ++i) {
    Define(
        DependsOn(Service("Dependent" + std::to_string(i), SERVICE_RUNNING, "Dependent Display " + std::to_string(i)),
                  {"Alpha"}));
  }
  Outcome o = Stop();
  EXPECT_EQ(o.out, "\tERROR: Could not enumerate dependent services of (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  EXPECT_EQ(StateOf("Dependent0"), SERVICE_RUNNING);
  EXPECT_TRUE(Calls("ControlService").empty());
  ExpectClosedInOrder();
}

// The dependents' buffer holds 1440 bytes: entries and their two strings.
// Dependents that need exactly that are stopped; one byte more and nothing is.
TEST_F(StopServiceTreeTest, TheDependentsBufferHoldsExactlyItsSize) {
  constexpr size_t kBuffer = 1440;
  constexpr int kDependents = 10;
  const size_t strings = kBuffer / kDependents - sizeof(ENUM_SERVICE_STATUSA) - 2;  // name + display
  for (size_t extra : {0u, 1u}) {
    SCOPED_TRACE(extra);
    const std::string base = "Base" + std::to_string(extra);
    Define(Service(base, SERVICE_RUNNING));
    size_t needed = 0;
    for (int i = 0; i < kDependents; ++i) {
      std::string name = base + "Dependent" + std::to_string(i);
      const size_t display_size = strings - name.size() + (i == kDependents - 1 ? extra : 0);
      auto dependent = Service(name, SERVICE_RUNNING, std::string(display_size - 1, 'd') + std::to_string(i));
      dependent.depends = {base};
      needed += sizeof(ENUM_SERVICE_STATUSA) + name.size() + 1 + dependent.display.size() + 1;
      Define(dependent);
    }
    ASSERT_EQ(needed, kBuffer + extra);
    Outcome o = Stop(base.c_str(), "Base Display");
    const DWORD dependents_state = extra ? SERVICE_RUNNING : SERVICE_STOPPED;
    EXPECT_EQ(o.result, extra ? 0 : 1);
    EXPECT_EQ(StateOf(base), dependents_state);
    EXPECT_EQ(StateOf(base + "Dependent0"), dependents_state);
    EXPECT_EQ(StateOf(base + "Dependent9"), dependents_state);
    if (extra) {
      EXPECT_EQ(o.out, "\tERROR: Could not enumerate dependent services of (Base Display)\n");
    }
  }
}

TEST_F(StopServiceTreeTest, FailedEnumerationLeavesTheServiceRunning) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Fail("EnumDependentServicesA", "Alpha", ERROR_ACCESS_DENIED);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "\tERROR: Could not enumerate dependent services of (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  ExpectClosedInOrder();
}

// Dependencies written into the registry can form a loop that the manager
// would never create. The walk passes over a service whose stop already
// encloses it (names compared as the manager does, ignoring case), so it
// ends: in a loop of two each service gets its line once, and the manager
// refuses both stops while the other runs.
TEST_F(StopServiceTreeTest, DependencyLoopEndsTheWalk) {
  auto alpha = Service("Alpha", SERVICE_RUNNING);
  alpha.depends = {"Beta"};
  Define(alpha);
  Define(DependsOn(Service("Beta", SERVICE_RUNNING, "Beta Display"), {"Alpha"}));
  Outcome o = Stop("ALPHA");
  EXPECT_EQ(o.out, "Stopping Service (Beta Display)\nStopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(Calls("OpenSCManagerA").size(), 2u);
  EXPECT_EQ(Calls("ControlService"), (std::vector<std::string>{"ControlService Beta", "ControlService ALPHA"}));
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  EXPECT_EQ(StateOf("Beta"), SERVICE_RUNNING);
  ExpectBalanced();

  // A loop of three, entered in its middle: every service's line comes out,
  // none of them stops, and the walk still ends.
  Define(DependsOn(Service("Gamma", SERVICE_RUNNING, "Gamma Display"), {"Beta"}));
  alpha.depends = {"Gamma"};
  Define(alpha);
  o = Stop();
  EXPECT_TRUE(o.out.ends_with("Stopping Service (Alpha Display)\n")) << o.out;
  EXPECT_NE(o.out.find("Stopping Service (Beta Display)\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Stopping Service (Gamma Display)\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  ExpectBalanced();
}

class StopSingleServiceTest : public ServiceTest {
 protected:
  Outcome Stop(const char* name = "Alpha", Flag verbose = 1) {
    return Run([&] { return StopSingleService(name, "Alpha Display", verbose); });
  }
};

TEST_F(StopSingleServiceTest, RunningDependentMakesTheStopRefused) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Define(DependsOn(Service("Beta", SERVICE_RUNNING), {"Alpha"}));
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Beta"), SERVICE_RUNNING);
}

// The waits of both stops, one service alone: what was done to it, how long
// the wait took, one dot a second, and every handle closed in order.
enum class Stopper { kTree, kSingle };

struct StopWait {
  const char* name;
  Stopper stopper;
  DWORD state;
  int64_t stop_ms = 0;
  int64_t start_ms = 0;
  DWORD refuse_stop = 0;
  int failed_read = 0;  // the nth status read fails; 0: none does
  Flag verbose = 1;
  int dots = 0;
  Flag result = 1;
  int64_t elapsed_ms = 0;
  size_t requests = 0;  // stop requests sent
  DWORD end_state = 0;  // 0: not looked at
  int status_reads = -1;  // -1: not counted
};
// Cases show by name in test listings and failures.
void PrintTo(const StopWait& c, std::ostream* os) { *os << c.name; }

const StopWait kStopWaits[] = {
    {.name = "StoppedServiceGetsNoRequestAndNoDots", .stopper = Stopper::kTree, .state = SERVICE_STOPPED},
    {.name = "RunningServiceThatStopsAtOnce", .stopper = Stopper::kTree, .state = SERVICE_RUNNING, .requests = 1,
     .end_state = SERVICE_STOPPED},
    {.name = "OneDotPerSecondOfStopPending", .stopper = Stopper::kTree, .state = SERVICE_RUNNING, .stop_ms = 3000,
     .dots = 3, .elapsed_ms = 3000, .requests = 1},
    {.name = "StopPendingAtStartIsOnlyWaitedFor", .stopper = Stopper::kTree, .state = SERVICE_STOP_PENDING,
     .stop_ms = 5000, .dots = 5, .elapsed_ms = 5000},
    // The first read, the running wait's one read, the pending wait's first
    // read and one after each of its first 119 sleeps: none after the 120th.
    {.name = "StopPendingForeverGivesUpAfter120Polls", .stopper = Stopper::kTree, .state = SERVICE_STOP_PENDING,
     .stop_ms = kForeverMs, .dots = 120, .result = 0, .elapsed_ms = 120000, .status_reads = 122},
    // Stopped exactly when the 120th sleep ends: that state is never read.
    {.name = "StoppingOnTheLastPollIsNotSeen", .stopper = Stopper::kTree, .state = SERVICE_STOP_PENDING,
     .stop_ms = 120000, .dots = 120, .result = 0, .elapsed_ms = 120000, .end_state = SERVICE_STOPPED},
    {.name = "StoppingBeforeTheLastPollIsSeen", .stopper = Stopper::kTree, .state = SERVICE_STOP_PENDING,
     .stop_ms = 119000, .dots = 119, .elapsed_ms = 119000},
    {.name = "StartPendingServiceIsNotStoppedAndNotWaitedFor", .stopper = Stopper::kTree,
     .state = SERVICE_START_PENDING, .start_ms = kForeverMs, .result = 0},
    {.name = "RefusalBecauseAlreadyStoppedCountsAsStopped", .stopper = Stopper::kTree, .state = SERVICE_RUNNING,
     .refuse_stop = ERROR_SERVICE_NOT_ACTIVE, .requests = 1},
    {.name = "QuietStopPrintsNothingWhateverHappens", .stopper = Stopper::kTree, .state = SERVICE_RUNNING,
     .stop_ms = 4000, .verbose = 0, .dots = 4, .elapsed_ms = 4000, .requests = 1},
    {.name = "FailedFirstStatusReadEndsTheLine", .stopper = Stopper::kTree, .state = SERVICE_RUNNING,
     .failed_read = 1, .result = 0},
    // Reads: 1 before the request, 2 in the running wait, 3 and 4 in the
    // pending wait; the 4th fails after one second, on a stop-pending state.
    {.name = "FailedReadDuringTheWaitDecidesOnTheLastStateRead", .stopper = Stopper::kTree,
     .state = SERVICE_RUNNING, .stop_ms = 10000, .failed_read = 4, .dots = 1, .result = 0, .elapsed_ms = 1000,
     .requests = 1},
    {.name = "StopsWithoutLookingAtDependents", .stopper = Stopper::kSingle, .state = SERVICE_RUNNING,
     .stop_ms = 2000, .dots = 2, .elapsed_ms = 2000, .requests = 1},
    {.name = "StopPendingWaitIsBoundedLikeTheTreeStop", .stopper = Stopper::kSingle, .state = SERVICE_STOP_PENDING,
     .stop_ms = kForeverMs, .dots = 120, .result = 0, .elapsed_ms = 120000},
};

class StopWaitTest : public ServiceTest, public testing::WithParamInterface<StopWait> {};

TEST_P(StopWaitTest, WaitsAndReports) {
  const StopWait& c = GetParam();
  auto spec = Service("Alpha", c.state);
  spec.stop_ms = c.stop_ms;
  spec.start_ms = c.start_ms;
  spec.refuse_stop = c.refuse_stop;
  Define(spec);
  if (c.failed_read) Fail("QueryServiceStatus", "Alpha", ERROR_INVALID_HANDLE, c.failed_read);
  Outcome o = Run([&] {
    return c.stopper == Stopper::kTree ? StopServiceTree("Alpha", "Alpha Display", c.verbose)
                                       : StopSingleService("Alpha", "Alpha Display", c.verbose);
  });
  EXPECT_EQ(o.out, c.verbose ? "Stopping Service (Alpha Display)" + Dots(c.dots) + "\n" : "");
  EXPECT_EQ(o.result, c.result);
  EXPECT_EQ(ElapsedMs(), c.elapsed_ms);
  EXPECT_EQ(Calls("ControlService").size(), c.requests);
  if (c.end_state) {
    EXPECT_EQ(StateOf("Alpha"), c.end_state);
  }
  if (c.status_reads >= 0) {
    EXPECT_EQ(Calls("QueryServiceStatus").size(), static_cast<size_t>(c.status_reads));
  }
  if (c.stopper == Stopper::kSingle) {
    EXPECT_TRUE(Calls("EnumDependentServicesA").empty());
  }
  // The service handle goes before the manager, and nothing stays open.
  EXPECT_LT(Index("CloseServiceHandle Alpha"), Index("CloseServiceHandle SCManager"));
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(Waits, StopWaitTest, testing::ValuesIn(kStopWaits),
                         [](const testing::TestParamInfo<StopWait>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace servicetest

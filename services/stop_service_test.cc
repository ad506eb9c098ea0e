// StopServiceTree and StopSingleService against the emulated manager on a
// virtual clock: every dot is one second of machine time.
#include "services/service_control.h"

#include "platform/handles.h"
#include "services/service_test_support.h"

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

TEST_F(StopServiceTreeTest, StoppedServiceGetsNoRequestAndNoDots) {
  Define(Service("Alpha", SERVICE_STOPPED));
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(Calls("ControlService").empty());
  EXPECT_EQ(ElapsedMs(), 0);
  ExpectClosedInOrder();
}

TEST_F(StopServiceTreeTest, RunningServiceThatStopsAtOnce) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(Calls("ControlService").size(), 1u);
  EXPECT_EQ(ElapsedMs(), 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_STOPPED);
  ExpectClosedInOrder();
}

TEST_F(StopServiceTreeTest, OneDotPerSecondOfStopPending) {
  auto spec = Service("Alpha", SERVICE_RUNNING);
  spec.stop_ms = 3000;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)...\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 3000);
  ExpectClosedInOrder();
}

TEST_F(StopServiceTreeTest, StopPendingAtStartIsOnlyWaitedFor) {
  auto spec = Service("Alpha", SERVICE_STOP_PENDING);
  spec.stop_ms = 5000;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(5) + "\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(Calls("ControlService").empty());
  EXPECT_EQ(ElapsedMs(), 5000);
}

TEST_F(StopServiceTreeTest, StopPendingForeverGivesUpAfter120Polls) {
  auto spec = Service("Alpha", SERVICE_STOP_PENDING);
  spec.stop_ms = kForeverMs;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(120) + "\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 120000);
  // The first read, the running wait's one read, the pending wait's first
  // read and one after each of its first 119 sleeps: none after the 120th.
  EXPECT_EQ(Calls("QueryServiceStatus").size(), 122u);
  ExpectClosedInOrder();
}

TEST_F(StopServiceTreeTest, StoppingOnTheLastPollIsNotSeen) {
  // Stopped exactly when the 120th sleep ends: that state is never read.
  auto spec = Service("Alpha", SERVICE_STOP_PENDING);
  spec.stop_ms = 120000;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(120) + "\n");
  EXPECT_EQ(StateOf("Alpha"), SERVICE_STOPPED);
}

TEST_F(StopServiceTreeTest, StoppingBeforeTheLastPollIsSeen) {
  auto spec = Service("Alpha", SERVICE_STOP_PENDING);
  spec.stop_ms = 119000;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(119) + "\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 119000);
}

TEST_F(StopServiceTreeTest, StartPendingServiceIsNotStoppedAndNotWaitedFor) {
  auto spec = Service("Alpha", SERVICE_START_PENDING);
  spec.start_ms = kForeverMs;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(Calls("ControlService").empty());
  EXPECT_EQ(ElapsedMs(), 0);
}

TEST_F(StopServiceTreeTest, RefusalBecauseAlreadyStoppedCountsAsStopped) {
  auto spec = Service("Alpha", SERVICE_RUNNING);
  spec.refuse_stop = ERROR_SERVICE_NOT_ACTIVE;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 0);
  ExpectClosedInOrder();
}

TEST_F(StopServiceTreeTest, RefusalWithAnyOtherCodeFailsWithoutErrorLine) {
  for (DWORD code : {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ERROR_SERVICE_REQUEST_TIMEOUT, ERROR_ACCESS_DENIED}) {
    auto spec = Service("Alpha", SERVICE_RUNNING);
    spec.refuse_stop = code;
    Define(spec);
    Outcome o = Stop();
    EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n") << code;
    EXPECT_EQ(o.result, 0) << code;
    EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING) << code;
    ExpectClosedInOrder();
  }
}

TEST_F(StopServiceTreeTest, ActiveDependentsAreStoppedFirstEachOnItsOwnLine) {
  Define(Service("Alpha", SERVICE_RUNNING));
  auto beta = Service("Beta", SERVICE_RUNNING, "Beta Display");
  beta.depends = {"Alpha"};
  beta.stop_ms = 2000;
  Define(beta);
  auto gamma = Service("Gamma", SERVICE_RUNNING, "Gamma Display");
  gamma.depends = {"Alpha"};
  Define(gamma);
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
  auto gamma = Service("Gamma", SERVICE_RUNNING);
  gamma.depends = {"Alpha"};
  Define(gamma);
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
    auto dependent = Service("Dependent" + std::to_string(i), SERVICE_RUNNING, "Dependent Display " + std::to_string(i));
    dependent.depends = {"Alpha"};
    Define(dependent);
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

TEST_F(StopServiceTreeTest, MissingServiceIsReportedByName) {
  Outcome o = Stop("Nowhere", "Nowhere Display");
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to service - Nowhere\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(Calls("CloseServiceHandle"), std::vector<std::string>{"CloseServiceHandle SCManager"});
  o = Stop("Nowhere", "Nowhere Display", 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.result, 0);
}

TEST_F(StopServiceTreeTest, QuietStopPrintsNothingWhateverHappens) {
  auto spec = Service("Alpha", SERVICE_RUNNING);
  spec.stop_ms = 4000;
  Define(spec);
  Outcome o = Stop("Alpha", "Alpha Display", 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 4000);
}

TEST_F(StopServiceTreeTest, ManagerThatCannotBeOpened) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Fail("OpenSCManagerA", "", ERROR_ACCESS_DENIED);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to Service Control Manager to stop - Alpha\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(Calls("CloseServiceHandle").empty());
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
}

TEST_F(StopServiceTreeTest, ServiceThatCannotBeOpened) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Fail("OpenServiceA", "Alpha", ERROR_ACCESS_DENIED);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to service - Alpha\n");
  EXPECT_EQ(o.result, 0);
  ExpectBalanced(1);
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

TEST_F(StopServiceTreeTest, FailedFirstStatusReadEndsTheLine) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Fail("QueryServiceStatus", "Alpha", ERROR_INVALID_HANDLE);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(Calls("ControlService").empty());
  ExpectClosedInOrder();
}

TEST_F(StopServiceTreeTest, FailedReadDuringTheWaitDecidesOnTheLastStateRead) {
  auto spec = Service("Alpha", SERVICE_RUNNING);
  spec.stop_ms = 10000;
  Define(spec);
  // Reads: 1 before the request, 2 in the running wait, 3 and 4 in the
  // pending wait; the 4th fails after one second, on a stop-pending state.
  Fail("QueryServiceStatus", "Alpha", ERROR_INVALID_HANDLE, 4);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display).\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 1000);
  ExpectClosedInOrder();
}

TEST_F(StopServiceTreeTest, StopRequestFaults) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Fail("ControlService", "Alpha", ERROR_SERVICE_NOT_ACTIVE);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  Fail("ControlService", "Alpha", ERROR_SERVICE_REQUEST_TIMEOUT);
  o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
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
  auto beta = Service("Beta", SERVICE_RUNNING, "Beta Display");
  beta.depends = {"Alpha"};
  Define(beta);
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
  auto gamma = Service("Gamma", SERVICE_RUNNING, "Gamma Display");
  gamma.depends = {"Beta"};
  Define(gamma);
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

TEST_F(StopSingleServiceTest, StopsWithoutLookingAtDependents) {
  auto spec = Service("Alpha", SERVICE_RUNNING);
  spec.stop_ms = 2000;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)..\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 2000);
  EXPECT_TRUE(Calls("EnumDependentServicesA").empty());
  EXPECT_LT(Index("CloseServiceHandle Alpha"), Index("CloseServiceHandle SCManager"));
  ExpectBalanced();
}

TEST_F(StopSingleServiceTest, RunningDependentMakesTheStopRefused) {
  Define(Service("Alpha", SERVICE_RUNNING));
  auto beta = Service("Beta", SERVICE_RUNNING);
  beta.depends = {"Alpha"};
  Define(beta);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Beta"), SERVICE_RUNNING);
}

TEST_F(StopSingleServiceTest, StopPendingWaitIsBoundedLikeTheTreeStop) {
  auto spec = Service("Alpha", SERVICE_STOP_PENDING);
  spec.stop_ms = kForeverMs;
  Define(spec);
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(120) + "\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 120000);
}

TEST_F(StopSingleServiceTest, OpenFailuresUseTheStopMessages) {
  Outcome o = Stop("Nowhere");
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to service - Nowhere\n");
  EXPECT_EQ(o.result, 0);
  Fail("OpenSCManagerA", "", ERROR_ACCESS_DENIED);
  o = Stop();
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to Service Control Manager to stop - Alpha\n");
  EXPECT_EQ(o.result, 0);
}

TEST_F(StopSingleServiceTest, AlreadyStoppedAndRefusedAsNotActive) {
  Define(Service("Alpha", SERVICE_STOPPED));
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  auto spec = Service("Alpha", SERVICE_RUNNING);
  spec.refuse_stop = ERROR_SERVICE_NOT_ACTIVE;
  Define(spec);
  o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
}

}  // namespace
}  // namespace servicetest

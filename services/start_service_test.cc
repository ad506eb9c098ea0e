// StartServiceAndWait against the emulated manager on a virtual clock.
#include "services/service_control.h"

#include "services/service_test_support.h"

namespace servicetest {
namespace {

class StartServiceTest : public ServiceTest {
 protected:
  Outcome Start(const char* name = "Alpha", Flag verbose = 1) {
    return Run([&] { return StartServiceAndWait(name, "Alpha Display", verbose); });
  }
};

TEST_F(StartServiceTest, ImmediateStartPrintsNoDots) {
  Define(Service("Alpha", SERVICE_STOPPED));
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  // On the normal path the service handle goes first.
  EXPECT_LT(Index("CloseServiceHandle Alpha"), Index("CloseServiceHandle SCManager"));
  ExpectBalanced();
}

TEST_F(StartServiceTest, OneDotPerSecondOfStartPending) {
  auto spec = Service("Alpha", SERVICE_STOPPED);
  spec.start_ms = 4000;
  Define(spec);
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)....\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 4000);
}

TEST_F(StartServiceTest, RunningServiceCountsAsStartedAndReleasesTheManagerFirst) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(Calls("QueryServiceStatus").empty());
  // A refused start lets go of the manager before the service.
  EXPECT_LT(Index("CloseServiceHandle SCManager"), Index("CloseServiceHandle Alpha"));
  ExpectBalanced();
}

TEST_F(StartServiceTest, ServiceThatFailsDuringItsStart) {
  auto spec = Service("Alpha", SERVICE_STOPPED);
  spec.start_ms = 2000;
  spec.start_fails = true;
  Define(spec);
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)..\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_STOPPED);
}

TEST_F(StartServiceTest, StartPendingForeverGivesUpAfter120Polls) {
  auto spec = Service("Alpha", SERVICE_STOPPED);
  spec.start_ms = kForeverMs;
  Define(spec);
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)" + std::string(120, '.') + "\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 120000);
  // One read before the first sleep and one after each of the first 119.
  EXPECT_EQ(Calls("QueryServiceStatus").size(), 120u);
  ExpectBalanced();
}

TEST_F(StartServiceTest, RunningOnTheLastPollIsNotSeenBeforeIt) {
  auto spec = Service("Alpha", SERVICE_STOPPED);
  spec.start_ms = 119000;
  Define(spec);
  EXPECT_EQ(Start().result, 1);
  EXPECT_EQ(ElapsedMs(), 119000);
  spec.state = SERVICE_STOPPED;
  spec.start_ms = 120000;
  Define(spec);
  EXPECT_EQ(Start().result, 0);
  EXPECT_EQ(ElapsedMs(), 120000);
}

TEST_F(StartServiceTest, RefusedStartWithAnyOtherCodeFails) {
  Define(Service("Alpha", SERVICE_STOPPED));
  Fail("StartServiceA", "Alpha", ERROR_SERVICE_DISABLED);
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_STOPPED);
  Fail("StartServiceA", "Alpha", ERROR_SERVICE_ALREADY_RUNNING);
  o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  ExpectBalanced();
}

TEST_F(StartServiceTest, NoStateReadAtAllIsAFailure) {
  Define(Service("Alpha", SERVICE_STOPPED));
  Fail("QueryServiceStatus", "Alpha", ERROR_INVALID_HANDLE);
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
}

TEST_F(StartServiceTest, FailedReadDuringTheWaitDecidesOnTheLastStateRead) {
  auto spec = Service("Alpha", SERVICE_STOPPED);
  spec.start_ms = 5000;
  Define(spec);
  Fail("QueryServiceStatus", "Alpha", ERROR_INVALID_HANDLE, 3);
  Outcome o = Start();
  EXPECT_EQ(o.out, "Starting Service (Alpha Display)..\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 2000);
}

TEST_F(StartServiceTest, OpenFailuresUseTheStartMessages) {
  Outcome o = Start("Nowhere");
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to service - Nowhere\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(Calls("CloseServiceHandle"), std::vector<std::string>{"CloseServiceHandle SCManager"});
  EXPECT_EQ(Start("Nowhere", 0).out, "");
  Define(Service("Alpha", SERVICE_STOPPED));
  Fail("OpenServiceA", "Alpha", ERROR_ACCESS_DENIED);
  o = Start();
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to service - Alpha\n");
  EXPECT_EQ(o.result, 0);
  Fail("OpenSCManagerA", "", ERROR_ACCESS_DENIED);
  o = Start();
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to Service Control Manager to start - Alpha\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(Calls("CloseServiceHandle").empty());
}

TEST_F(StartServiceTest, QuietStartPrintsNothing) {
  auto spec = Service("Alpha", SERVICE_STOPPED);
  spec.start_ms = 3000;
  Define(spec);
  Outcome o = Start("Alpha", 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 3000);
}

}  // namespace
}  // namespace servicetest

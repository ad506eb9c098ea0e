// StartServiceAndWait against the emulated manager on a virtual clock.
#include "services/start_service.h"

#include "tests/support/service_fixture.h"

namespace servicetest {
namespace {

class StartServiceTest : public ServiceTest {
 protected:
  Outcome Start(const char* name = "Alpha", Flag verbose = 1) {
    return Run([&] { return StartServiceAndWait(name, "Alpha Display", verbose); });
  }
};

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

// The start's wait, one service alone: how long it took, one dot a second,
// the end state, and every handle closed, in the order of the path taken.
enum class FirstClosed { kNotLooked, kService, kManager };

struct StartWait {
  const char* name;
  DWORD state;
  int64_t start_ms = 0;
  bool start_fails = false;
  int failed_read = 0;  // the nth status read fails; 0: none does
  Flag verbose = 1;
  int dots = 0;
  Flag result = 1;
  int64_t elapsed_ms = 0;
  DWORD end_state = 0;  // 0: not looked at
  int status_reads = -1;  // -1: not counted
  FirstClosed first_closed = FirstClosed::kNotLooked;
};
// Cases show by name in test listings and failures.
void PrintTo(const StartWait& c, std::ostream* os) { *os << c.name; }

const StartWait kStartWaits[] = {
    // On the normal path the service handle goes first.
    {.name = "ImmediateStartPrintsNoDots", .state = SERVICE_STOPPED, .end_state = SERVICE_RUNNING,
     .first_closed = FirstClosed::kService},
    {.name = "OneDotPerSecondOfStartPending", .state = SERVICE_STOPPED, .start_ms = 4000, .dots = 4,
     .elapsed_ms = 4000},
    // A refused start lets go of the manager before the service.
    {.name = "RunningServiceCountsAsStartedAndReleasesTheManagerFirst", .state = SERVICE_RUNNING,
     .status_reads = 0, .first_closed = FirstClosed::kManager},
    {.name = "ServiceThatFailsDuringItsStart", .state = SERVICE_STOPPED, .start_ms = 2000, .start_fails = true,
     .dots = 2, .result = 0, .elapsed_ms = 2000, .end_state = SERVICE_STOPPED},
    // One read before the first sleep and one after each of the first 119.
    {.name = "StartPendingForeverGivesUpAfter120Polls", .state = SERVICE_STOPPED, .start_ms = kForeverMs,
     .dots = 120, .result = 0, .elapsed_ms = 120000, .status_reads = 120},
    {.name = "NoStateReadAtAllIsAFailure", .state = SERVICE_STOPPED, .failed_read = 1, .result = 0,
     .end_state = SERVICE_RUNNING},
    {.name = "FailedReadDuringTheWaitDecidesOnTheLastStateRead", .state = SERVICE_STOPPED, .start_ms = 5000,
     .failed_read = 3, .dots = 2, .result = 0, .elapsed_ms = 2000},
    {.name = "QuietStartPrintsNothing", .state = SERVICE_STOPPED, .start_ms = 3000, .verbose = 0, .dots = 3,
     .elapsed_ms = 3000},
};

class StartWaitTest : public ServiceTest, public testing::WithParamInterface<StartWait> {};

TEST_P(StartWaitTest, WaitsAndReports) {
  const StartWait& c = GetParam();
  auto spec = Service("Alpha", c.state);
  spec.start_ms = c.start_ms;
  spec.start_fails = c.start_fails;
  Define(spec);
  if (c.failed_read) Fail("QueryServiceStatus", "Alpha", ERROR_INVALID_HANDLE, c.failed_read);
  Outcome o = Run([&] { return StartServiceAndWait("Alpha", "Alpha Display", c.verbose); });
  EXPECT_EQ(o.out, c.verbose ? "Starting Service (Alpha Display)" + std::string(c.dots, '.') + "\n" : "");
  EXPECT_EQ(o.result, c.result);
  EXPECT_EQ(ElapsedMs(), c.elapsed_ms);
  if (c.end_state) {
    EXPECT_EQ(StateOf("Alpha"), c.end_state);
  }
  if (c.status_reads >= 0) {
    EXPECT_EQ(Calls("QueryServiceStatus").size(), static_cast<size_t>(c.status_reads));
  }
  const long service_close = Index("CloseServiceHandle Alpha"), manager_close = Index("CloseServiceHandle SCManager");
  if (c.first_closed == FirstClosed::kService) {
    EXPECT_LT(service_close, manager_close);
  }
  if (c.first_closed == FirstClosed::kManager) {
    EXPECT_LT(manager_close, service_close);
  }
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(Waits, StartWaitTest, testing::ValuesIn(kStartWaits),
                         [](const testing::TestParamInfo<StartWait>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace servicetest

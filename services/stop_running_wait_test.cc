// StopServiceTree and StopSingleService against services that accept the
// stop and go on running: the running wait gives them exactly 15 polls, the
// stop-pending wait 120 more, and one dot is one second of machine time.
#include "services/stop_service.h"
#include "tests/support/service_fixture.h"

namespace servicetest {
namespace {

std::string Dots(int n) { return std::string(static_cast<size_t>(n), '.'); }

emu::admin::ServiceSpec Lagging(const std::string& name, int64_t lag_ms, int64_t stop_ms,
                                const std::string& display = "") {
  auto spec = Service(name, SERVICE_RUNNING, display);
  spec.stop_lag_ms = lag_ms;
  spec.stop_ms = stop_ms;
  return spec;
}

// Both stops, which share their waits, run by the same cases.
enum class Kind { kTree, kSingle };
void PrintTo(Kind kind, std::ostream* os) { *os << (kind == Kind::kTree ? "StopServiceTree" : "StopSingleService"); }

class StopLagTest : public ServiceTest, public testing::WithParamInterface<Kind> {
 protected:
  Outcome Stop(Flag verbose = 1) {
    return Run([&] {
      return GetParam() == Kind::kTree ? StopServiceTree("Alpha", "Alpha Display", verbose)
                                       : StopSingleService("Alpha", "Alpha Display", verbose);
    });
  }
  // One stop request only, whatever the wait; every handle closed.
  void ExpectOneRequestAndBalanced() {
    EXPECT_EQ(Calls("ControlService").size(), 1u);
    EXPECT_LT(Index("CloseServiceHandle Alpha"), Index("CloseServiceHandle SCManager"));
    ExpectBalanced();
  }
};

TEST_P(StopLagTest, HungServiceGetsFifteenDotsAndFails) {
  Define(Lagging("Alpha", -1, 0));
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(15) + "\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 15000);
  // The read before the request, one per running poll, and the pending
  // wait's single read, which finds it still running.
  EXPECT_EQ(Calls("QueryServiceStatus").size(), 17u);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  ExpectOneRequestAndBalanced();

  // Quiet: the same waits, nothing printed.
  Define(Lagging("Alpha", -1, 0));
  o = Stop(0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 15000);
}

TEST_P(StopLagTest, FifteenSecondLagThenEndlessPendingGets135Dots) {
  Define(Lagging("Alpha", 15000, kForeverMs));
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(135) + "\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 135000);
  // No read after the 120th pending sleep.
  EXPECT_EQ(Calls("QueryServiceStatus").size(), 1u + 15 + 120);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_STOP_PENDING);
  ExpectOneRequestAndBalanced();
}

TEST_P(StopLagTest, LagAroundTheFifteenthPoll) {
  struct Case {
    int64_t lag_ms, stop_ms;
    int dots;
    Flag result;
  } cases[] = {
      // Seen stop-pending at the 15th poll: the pending wait takes over.
      {14000, 3000, 17, 1},
      // Still running at the 15th poll, stop-pending at the next read.
      {15000, 3000, 18, 1},
      // Stopped straight from running, at the last poll of the running wait.
      {14000, 0, 14, 1},
      // Stopped just after the running wait: never seen so.
      {15001, 0, 15, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("lag " + std::to_string(c.lag_ms) + " stop " + std::to_string(c.stop_ms));
    Define(Lagging("Alpha", c.lag_ms, c.stop_ms));
    Outcome o = Stop();
    EXPECT_EQ(o.out, "Stopping Service (Alpha Display)" + Dots(c.dots) + "\n");
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(ElapsedMs(), c.dots * 1000LL);
    ExpectOneRequestAndBalanced();
  }
}

INSTANTIATE_TEST_SUITE_P(BothStops, StopLagTest, testing::Values(Kind::kTree, Kind::kSingle),
                         [](const testing::TestParamInfo<Kind>& info) {
                           return info.param == Kind::kTree ? "StopServiceTree" : "StopSingleService";
                         });

class StopTreeLagTest : public ServiceTest {
 protected:
  Outcome Stop() {
    return Run([] { return StopServiceTree("Alpha", "Alpha Display", 1); });
  }
};

TEST_F(StopTreeLagTest, LaggingDependentIsWaitedForOnItsOwnLine) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Define(DependsOn(Lagging("Beta", 2000, 1000, "Beta Display"), {"Alpha"}));
  Outcome o = Stop();
  EXPECT_EQ(o.out, "Stopping Service (Beta Display)...\nStopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(ElapsedMs(), 3000);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_STOPPED);
}

TEST_F(StopTreeLagTest, HungDependentKeepsTheServiceRunning) {
  Define(Service("Alpha", SERVICE_RUNNING));
  Define(DependsOn(Lagging("Beta", -1, 0, "Beta Display"), {"Alpha"}));
  Outcome o = Stop();
  // The manager then refuses the service's own stop: its line has no dots.
  EXPECT_EQ(o.out, "Stopping Service (Beta Display)" + Dots(15) + "\nStopping Service (Alpha Display)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ElapsedMs(), 15000);
  EXPECT_EQ(StateOf("Alpha"), SERVICE_RUNNING);
  EXPECT_EQ(Calls("ControlService"), (std::vector<std::string>{"ControlService Beta", "ControlService Alpha"}));
  ExpectBalanced();
}

}  // namespace
}  // namespace servicetest

// A stop or start request the service or the manager refuses: only the
// answer that the service is already where the request would take it counts
// as done. No error line either way, and every handle is closed.
#include "services/start_service.h"
#include "services/stop_service.h"

#include "tests/support/service_fixture.h"

namespace servicetest {
namespace {

enum class Request { kStopTree, kStopSingle, kStart };

struct Refusal {
  DWORD state;
  bool by_manager;  // a fault rule on the request; else the service refuses a stop
  DWORD code;       // 0: nothing refused
  Flag result;
  DWORD end_state = 0;  // 0: not looked at
};

struct RefusedRequest {
  const char* name;
  Request request;
  std::vector<Refusal> refusals;
};
// Cases show by name in test listings and failures.
void PrintTo(const RefusedRequest& c, std::ostream* os) { *os << c.name; }

const RefusedRequest kRefusedRequests[] = {
    {"StopTreeRefusalWithAnyOtherCodeFailsWithoutErrorLine",
     Request::kStopTree,
     {{SERVICE_RUNNING, false, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 0, SERVICE_RUNNING},
      {SERVICE_RUNNING, false, ERROR_SERVICE_REQUEST_TIMEOUT, 0, SERVICE_RUNNING},
      {SERVICE_RUNNING, false, ERROR_ACCESS_DENIED, 0, SERVICE_RUNNING}}},
    {"StopTreeRequestFaults",
     Request::kStopTree,
     {{SERVICE_RUNNING, true, ERROR_SERVICE_NOT_ACTIVE, 1}, {SERVICE_RUNNING, true, ERROR_SERVICE_REQUEST_TIMEOUT, 0}}},
    {"StopSingleAlreadyStoppedAndRefusedAsNotActive",
     Request::kStopSingle,
     {{SERVICE_STOPPED, false, 0, 1}, {SERVICE_RUNNING, false, ERROR_SERVICE_NOT_ACTIVE, 1}}},
    {"StartRefusedWithAnyOtherCodeFails",
     Request::kStart,
     {{SERVICE_STOPPED, true, ERROR_SERVICE_DISABLED, 0, SERVICE_STOPPED},
      {SERVICE_STOPPED, true, ERROR_SERVICE_ALREADY_RUNNING, 1}}},
};

class RefusedRequestTest : public ServiceTest, public testing::WithParamInterface<RefusedRequest> {};

TEST_P(RefusedRequestTest, CountsOnlyTheAnswerThatItIsDone) {
  const RefusedRequest& c = GetParam();
  const bool start = c.request == Request::kStart;
  for (const Refusal& refusal : c.refusals) {
    SCOPED_TRACE(refusal.code);
    auto spec = Service("Alpha", refusal.state);
    if (!refusal.by_manager) spec.refuse_stop = refusal.code;
    Define(spec);
    if (refusal.by_manager) Fail(start ? "StartServiceA" : "ControlService", "Alpha", refusal.code);
    Outcome o = Run([&] {
      switch (c.request) {
        case Request::kStopTree:
          return StopServiceTree("Alpha", "Alpha Display", 1);
        case Request::kStopSingle:
          return StopSingleService("Alpha", "Alpha Display", 1);
        case Request::kStart:
          break;
      }
      return StartServiceAndWait("Alpha", "Alpha Display", 1);
    });
    EXPECT_EQ(o.out, start ? "Starting Service (Alpha Display)\n" : "Stopping Service (Alpha Display)\n");
    EXPECT_EQ(o.result, refusal.result);
    if (refusal.end_state) {
      EXPECT_EQ(StateOf("Alpha"), refusal.end_state);
    }
    // A stop lets go of the service before the manager.
    if (!start) {
      EXPECT_LT(Index("CloseServiceHandle Alpha"), Index("CloseServiceHandle SCManager"));
    }
    ExpectBalanced();
  }
}

INSTANTIATE_TEST_SUITE_P(Requests, RefusedRequestTest, testing::ValuesIn(kRefusedRequests),
                         [](const testing::TestParamInfo<RefusedRequest>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace servicetest

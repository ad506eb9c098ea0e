// What each service operation says when the manager, the service or the new
// driver service cannot be opened: its own line naming the service, status
// failure, nothing asked of the service, and every handle that was opened
// closed again. Quiet, the same runs print nothing.
#include "services/service_definition.h"
#include "services/start_service.h"
#include "services/stop_service.h"

#include "tests/support/service_fixture.h"

namespace servicetest {
namespace {

enum class Operation { kStopTree, kStopSingle, kStart, kRemove, kCreateDriver };

enum class Refused {
  kNothing,  // the operation goes through
  kMissing,  // no such service
  kService,  // the service exists but cannot be opened
  kManager,  // the manager cannot be opened
  kCreate,   // the driver service cannot be created
};

struct Attempt {
  Refused refused;
  const char* name;
  Flag verbose;
  std::string out;
};

struct OpenFailure {
  const char* name;
  Operation operation;
  DWORD alpha_state;  // "Alpha" defined in this state; 0: not defined
  std::vector<Attempt> attempts;
};
// Cases show by name in test listings and failures.
void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.name; }

const std::string kServiceMissing = "\tERROR: Could not open handle to service - Nowhere\n";
const std::string kServiceRefused = "\tERROR: Could not open handle to service - Alpha\n";
const std::string kManager = "\tERROR: Could not open handle to Service Control Manager to ";
const std::string kDriverLine = "Installing Driver (Kelm Embedded System Management Driver).\n";

const OpenFailure kOpenFailures[] = {
    {"StopTreeMissingServiceIsReportedByName",
     Operation::kStopTree,
     0,
     {{Refused::kMissing, "Nowhere", 1, kServiceMissing}, {Refused::kMissing, "Nowhere", 0, ""}}},
    {"StopTreeManagerThatCannotBeOpened",
     Operation::kStopTree,
     SERVICE_RUNNING,
     {{Refused::kManager, "Alpha", 1, kManager + "stop - Alpha\n"}}},
    {"StopTreeServiceThatCannotBeOpened",
     Operation::kStopTree,
     SERVICE_RUNNING,
     {{Refused::kService, "Alpha", 1, kServiceRefused}}},
    {"StopSingleUsesTheStopMessages",
     Operation::kStopSingle,
     0,
     {{Refused::kMissing, "Nowhere", 1, kServiceMissing},
      {Refused::kManager, "Alpha", 1, kManager + "stop - Alpha\n"}}},
    {"StartUsesTheStartMessages",
     Operation::kStart,
     SERVICE_STOPPED,
     {{Refused::kMissing, "Nowhere", 1, kServiceMissing},
      {Refused::kMissing, "Nowhere", 0, ""},
      {Refused::kService, "Alpha", 1, kServiceRefused},
      {Refused::kManager, "Alpha", 1, kManager + "start - Alpha\n"}}},
    {"RemoveUsesTheRemoveMessages",
     Operation::kRemove,
     0,
     {{Refused::kMissing, "Nowhere", 1, kServiceMissing},
      {Refused::kManager, "Alpha", 1, kManager + "remove - Alpha\n"},
      {Refused::kMissing, "Alpha", 0, ""}}},
    {"CreateDriverCreationFaultsAndManagerFailure",
     Operation::kCreateDriver,
     0,
     {{Refused::kCreate, "vtrin", 1, kDriverLine + "\tERROR: Could not open handle to driver - vtrin\n"},
      {Refused::kNothing, "vtrin", 0, ""},
      {Refused::kManager, "vtrin", 1, kManager + "install - vtrin\n"}}},
};

class OpenFailureTest : public ServiceTest, public testing::WithParamInterface<OpenFailure> {
 protected:
  Flag Call(const Attempt& attempt) {
    switch (GetParam().operation) {
      case Operation::kStopTree:
        return StopServiceTree(attempt.name, "Alpha Display", attempt.verbose);
      case Operation::kStopSingle:
        return StopSingleService(attempt.name, "Alpha Display", attempt.verbose);
      case Operation::kStart:
        return StartServiceAndWait(attempt.name, "Alpha Display", attempt.verbose);
      case Operation::kRemove:
        return RemoveService(attempt.name, "Alpha Display", attempt.verbose);
      case Operation::kCreateDriver:
        return CreateDriverService(attempt.name, "Kelm Embedded System Management Driver", attempt.verbose);
    }
    return 0xFFFF;
  }
  // The call that acts on the service, which no refused open may reach.
  std::string ActionCall() const {
    switch (GetParam().operation) {
      case Operation::kStopTree:
      case Operation::kStopSingle:
        return "ControlService";
      case Operation::kStart:
        return "StartServiceA";
      case Operation::kRemove:
        return "DeleteService";
      case Operation::kCreateDriver:
        return "CreateServiceA";
    }
    return "";
  }
};

TEST_P(OpenFailureTest, NamesTheServiceAndLeavesNothingOpen) {
  const OpenFailure& c = GetParam();
  if (c.alpha_state) Define(Service("Alpha", c.alpha_state));
  for (const Attempt& attempt : c.attempts) {
    SCOPED_TRACE(std::string(attempt.name) + (attempt.verbose ? " verbose" : " quiet"));
    if (attempt.refused == Refused::kManager) Fail("OpenSCManagerA", "", ERROR_ACCESS_DENIED);
    if (attempt.refused == Refused::kService) Fail("OpenServiceA", attempt.name, ERROR_ACCESS_DENIED);
    if (attempt.refused == Refused::kCreate) Fail("CreateServiceA", attempt.name, ERROR_ACCESS_DENIED);
    Outcome o = Run([&] { return Call(attempt); });
    EXPECT_EQ(o.out, attempt.out);
    if (attempt.refused == Refused::kNothing) continue;
    EXPECT_EQ(o.result, 0);
    if (attempt.refused != Refused::kCreate) {
      EXPECT_TRUE(Calls(ActionCall()).empty());
    }
    // A refused manager leaves nothing to close; otherwise only the manager.
    if (attempt.refused == Refused::kManager) {
      EXPECT_TRUE(Calls("CloseServiceHandle").empty());
    } else {
      EXPECT_EQ(Calls("CloseServiceHandle"), std::vector<std::string>{"CloseServiceHandle SCManager"});
    }
    ExpectBalanced(1);
    if (c.alpha_state) {
      EXPECT_EQ(StateOf("Alpha"), c.alpha_state);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, OpenFailureTest, testing::ValuesIn(kOpenFailures),
                         [](const testing::TestParamInfo<OpenFailure>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace servicetest

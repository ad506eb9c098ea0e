// The legacy stop and start sequences on emulated machines: which services
// they touch for each role, in which order, what counts, and what prints.
#include "services/legacy_sequences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/environment_profile.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"

namespace {

using testsupport::TestMachine;

constexpr uint32_t kStopped = 1;
constexpr uint32_t kRunning = 4;
constexpr uint32_t kAccessDenied = 5;

using testsupport::kNodeAgents;

class LegacySequences : public testing::Test {
 protected:
  void SetUp() override { emu::SetCallTrace(&trace_); }
  void TearDown() override { emu::SetCallTrace(nullptr); }
  // The services opened, in order: every row, silent or not, opens its
  // service, and a stop opens each active dependent inside its own.
  std::vector<std::string> OpenedServices() const {
    std::vector<std::string> opened;
    const std::string prefix = "OpenServiceA ";
    for (const std::string& line : trace_)
      if (line.rfind(prefix, 0) == 0) opened.push_back(line.substr(prefix.size()));
    return opened;
  }

  static void Define(emu::admin::ServiceSpec spec) {
    std::string error;
    ASSERT_TRUE(emu::admin::DefineService(spec, &error)) << error;
  }
  static void DefineService(const std::string& name, const std::string& display, uint32_t state,
                            std::vector<std::string> depends = {}) {
    emu::admin::ServiceSpec spec = testsupport::Service(name, state, display);
    spec.depends = std::move(depends);
    Define(spec);
  }
  // Every service of an older managed node and of a management station. The
  // local response agent hangs on the baseboard agent, and an extension agent
  // on SNMP, so the counted stops show their dependents' lines.
  void DefineOlderInstallation(uint32_t state) {
    DefineService("Gandrel2Service", "", state);
    DefineService("Tobrael", "", state);
    DefineService("Kelm Baseboard Agent", "", state);
    DefineService("Kelm Local Response Agent", "", state, {"Kelm Baseboard Agent"});
    DefineService("SNMP", "SNMP", state);
    DefineService("KelmSnmpExt", "Kelm SNMP Extension Agent", state, {"SNMP"});
    DefineService("win32sl", "Win32 DMI Service Layer", state);
    DefineService("EMANATE", "SNMP EMANATE Master Agent", state);
    DefineService("wpa", "SNMP EMANATE Adapter for NT", state);
    Define(testsupport::DriverService(state));
  }
  void BeManagedNode() { roles_.ManagedNode = 1; }
  void BeManagementStation() { roles_.ManagementStation = 1; }
  static uint32_t State(const std::string& name) {
    emu::admin::ServiceInfo info;
    std::string error;
    if (!emu::admin::QueryService(name, &info, &error)) return 0;
    return info.state;
  }
  template <typename Sequence>
  std::string Output(Sequence sequence, Flag verbose, Flag* result) const {
    testing::internal::CaptureStdout();
    *result = sequence(roles_, verbose);
    return testing::internal::GetCapturedStdout();
  }

  TestMachine machine_;
  std::vector<std::string> trace_;
  LegacyRoles roles_;
};

TEST_F(LegacySequences, NeitherNodeNorStationTouchesNothing) {
  DefineOlderInstallation(kRunning);
  // Neither role (a console of another role is no management station).
  Flag result = 0;
  EXPECT_EQ(Output(StopLegacyServices, 1, &result), "");
  EXPECT_EQ(result, 1);
  for (const auto& info : emu::admin::ListServices()) EXPECT_EQ(info.state, kRunning) << info.name;
  EXPECT_EQ(Output(StartLegacyServices, 1, &result), "");
  EXPECT_EQ(result, 1);
}

TEST_F(LegacySequences, StationWithoutEmanateAdapterFailsButStopsTheMasterAgent) {
  DefineService("EMANATE", "SNMP EMANATE Master Agent", kRunning);
  BeManagementStation();
  Flag result = 1;
  EXPECT_EQ(Output(StopLegacyServices, 1, &result),
            "\tERROR: Could not open handle to service - wpa\n"
            "Stopping Service (SNMP EMANATE Master Agent)\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(State("EMANATE"), kStopped);
}

TEST_F(LegacySequences, FailedSnmpStopDoesNotKeepTheLaterStopsFromRunning) {
  DefineOlderInstallation(kRunning);
  emu::admin::ServiceSpec snmp = testsupport::Service("SNMP", kRunning, "SNMP");
  snmp.refuse_stop = kAccessDenied;
  std::string error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition("KelmSnmpExt", &error)) << error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition("SNMP", &error)) << error;
  Define(snmp);
  BeManagedNode();
  Flag result = 1;
  EXPECT_EQ(Output(StopLegacyServices, 1, &result),
            "Stopping Service (Kelm Local Response Agent)\n"
            "Stopping Service (Kelm Baseboard Agent)\n"
            "Stopping Service (SNMP)\n"
            "Stopping Service (Win32 DMI Service Layer)\n"
            "Stopping Service (Kelm Embedded System Management Driver)\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(State("SNMP"), kRunning);
  EXPECT_EQ(State("win32sl"), kStopped);
  EXPECT_EQ(State("vtrin"), kStopped);
}

TEST_F(LegacySequences, MissingServicesOnManagedNodeCountAndPrintOnlyWhenVerbose) {
  // Only the node agents and the driver are there.
  DefineOlderInstallation(kRunning);
  std::string error;
  for (const char* name : {"KelmSnmpExt", "SNMP", "win32sl"}) {
    ASSERT_TRUE(emu::admin::RemoveServiceDefinition(name, &error)) << error;
  }
  BeManagedNode();
  Flag result = 1;
  EXPECT_EQ(Output(StopLegacyServices, 0, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(State("vtrin"), kStopped);
  EXPECT_EQ(Output(StartLegacyServices, 1, &result),
            "\tERROR: Could not open handle to service - win32sl\n"
            "\tERROR: Could not open handle to service - SNMP\n"
            "Starting Service (Kelm Baseboard Agent)\n");
  EXPECT_EQ(result, 0);
}

// A driver service the manager says does not exist is passed over only
// where the caller knows this tool's interrupted install deleted it: its
// failed stop prints its line but does not fail the sequence. Without that
// knowledge, or when the driver is there and cannot be stopped (here:
// cannot be opened), the stop still counts.
TEST_F(LegacySequences, AMissingDriverServiceIsPassedOverOnlyWhereAnInstallDeletedIt) {
  struct Case {
    const char* name;
    bool remove_driver;
    DWORD open_error;          // every open of "vtrin" refused with it, or 0
    bool (*deleted_by_install)();
    Flag result;
  };
  static int asked = 0;
  bool (*deleted)() = [] { return ++asked, true; };
  bool (*not_deleted)() = [] { return ++asked, false; };
  const Case cases[] = {{"deleted by the install", true, 0, deleted, 1},
                        {"never there", true, 0, not_deleted, 0},
                        {"no marker to ask", true, 0, nullptr, 0},
                        {"refused", false, ERROR_ACCESS_DENIED, deleted, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    asked = 0;
    DefineOlderInstallation(kRunning);
    std::string error;
    if (c.remove_driver) {
      ASSERT_TRUE(emu::admin::RemoveServiceDefinition("vtrin", &error)) << error;
    }
    if (c.open_error) {
      ASSERT_TRUE(emu::AddFaultRule("OpenServiceA", "vtrin", c.open_error, 1, true));
    }
    BeManagedNode();
    roles_.DriverDeletedByInstall = c.deleted_by_install;
    Flag result = 0xFFFF;
    EXPECT_EQ(Output(StopLegacyServices, 1, &result),
              "Stopping Service (Kelm Local Response Agent)\n"
              "Stopping Service (Kelm Baseboard Agent)\n"
              "Stopping Service (Kelm SNMP Extension Agent)\n"
              "Stopping Service (SNMP)\n"
              "Stopping Service (Win32 DMI Service Layer)\n"
              "\tERROR: Could not open handle to service - vtrin\n");
    EXPECT_EQ(result, c.result);
    // Asked only of a service the manager says does not exist.
    EXPECT_EQ(asked, c.remove_driver && c.deleted_by_install ? 1 : 0);
    EXPECT_EQ(State("win32sl"), kStopped);
    emu::ClearFaultRules();
    for (const auto& info : emu::admin::ListServices())
      ASSERT_TRUE(emu::admin::RemoveServiceDefinition(info.name, &error)) << error;
  }
}

TEST_F(LegacySequences, FailedSnmpStartCountsButTheAgentsStillStart) {
  DefineOlderInstallation(kStopped);
  std::string error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition("KelmSnmpExt", &error)) << error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition("SNMP", &error)) << error;
  emu::admin::ServiceSpec snmp = testsupport::Service("SNMP", kStopped);
  snmp.start_ms = 2000;
  snmp.start_fails = true;
  Define(snmp);
  BeManagedNode();
  const long long before = machine_.NowMs();
  Flag result = 1;
  EXPECT_EQ(Output(StartLegacyServices, 1, &result),
            "Starting Service (Win32 DMI Service Layer)\n"
            "Starting Service (SNMP)..\n"
            "Starting Service (Kelm Baseboard Agent)\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(machine_.NowMs() - before, 2000);
  EXPECT_EQ(State("SNMP"), kStopped);
  EXPECT_EQ(State("Kelm Baseboard Agent"), kRunning);
  EXPECT_EQ(State("Gandrel2Service"), kRunning);
}

TEST_F(LegacySequences, QuietSequencesPrintNothing) {
  DefineOlderInstallation(kRunning);
  BeManagedNode();
  BeManagementStation();
  Flag result = 0;
  EXPECT_EQ(Output(StopLegacyServices, 0, &result), "");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Output(StartLegacyServices, 0, &result), "");
  EXPECT_EQ(result, 1);
}

// The sequences over every service of an older installation, by role: the
// lines of the rows that count, the services each one reached (and those it
// must leave alone), and where the order matters, every service it opened.
struct RoleRun {
  const char* name;
  bool node, station, start;
  std::string out;
  std::vector<std::string> reached;  // now stopped by a stop, running after a start
  std::vector<std::string> left;     // as they were
  std::vector<std::string> opened;   // empty: not compared
};
// Cases show by name in test listings and failures.
void PrintTo(const RoleRun& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kEveryService = {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent",
                                                "Kelm Local Response Agent", "SNMP", "KelmSnmpExt", "win32sl",
                                                "EMANATE", "wpa", "vtrin"};

const RoleRun kRoleRuns[] = {
    // Not a management station: the EMANATE pair keeps running.
    {"StopOnManagedNodePrintsOnlyCountedRows", true, false, false,
     "Stopping Service (Kelm Local Response Agent)\n"
     "Stopping Service (Kelm Baseboard Agent)\n"
     "Stopping Service (Kelm SNMP Extension Agent)\n"
     "Stopping Service (SNMP)\n"
     "Stopping Service (Win32 DMI Service Layer)\n"
     "Stopping Service (Kelm Embedded System Management Driver)\n",
     {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "Kelm Local Response Agent", "SNMP", "KelmSnmpExt",
      "win32sl", "vtrin"},
     {"EMANATE", "wpa"},
     {}},
    {"StopOnStationThatIsAlsoANodeRunsEveryGroupInOrder", true, true, false,
     "Stopping Service (Kelm Local Response Agent)\n"
     "Stopping Service (Kelm Baseboard Agent)\n"
     "Stopping Service (SNMP EMANATE Adapter for NT)\n"
     "Stopping Service (SNMP EMANATE Master Agent)\n"
     "Stopping Service (Kelm SNMP Extension Agent)\n"
     "Stopping Service (SNMP)\n"
     "Stopping Service (Win32 DMI Service Layer)\n"
     "Stopping Service (Kelm Embedded System Management Driver)\n",
     kEveryService,
     {},
     {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "Kelm Local Response Agent", "Kelm Local Response Agent",
      "wpa", "EMANATE", "SNMP", "KelmSnmpExt", "win32sl", "vtrin"}},
    {"StopOnStationAloneStopsOnlyTheEmanatePair", false, true, false,
     "Stopping Service (SNMP EMANATE Adapter for NT)\n"
     "Stopping Service (SNMP EMANATE Master Agent)\n",
     {"wpa", "EMANATE"},
     {"SNMP", "win32sl", "vtrin", "Kelm Baseboard Agent"},
     {}},
    {"StartRunsTheReverseOrderWithoutTheDriver", true, true, true,
     "Starting Service (Win32 DMI Service Layer)\n"
     "Starting Service (SNMP)\n"
     "Starting Service (SNMP EMANATE Master Agent)\n"
     "Starting Service (SNMP EMANATE Adapter for NT)\n"
     "Starting Service (Kelm Baseboard Agent)\n",
     {"win32sl", "SNMP", "EMANATE", "wpa", "Gandrel2Service", "Tobrael", "Kelm Baseboard Agent",
      "Kelm Local Response Agent"},
     {"vtrin", "KelmSnmpExt"},
     {"win32sl", "SNMP", "EMANATE", "wpa", "Kelm Local Response Agent", "Kelm Baseboard Agent", "Tobrael",
      "Gandrel2Service"}},
};

class LegacyRoleRuns : public LegacySequences, public testing::WithParamInterface<RoleRun> {};

TEST_P(LegacyRoleRuns, PrintAndReachTheirServices) {
  const RoleRun& c = GetParam();
  const uint32_t before = c.start ? kStopped : kRunning;
  const uint32_t after = c.start ? kRunning : kStopped;
  DefineOlderInstallation(before);
  if (c.node) BeManagedNode();
  if (c.station) BeManagementStation();
  Flag result = 0;
  EXPECT_EQ(Output(c.start ? StartLegacyServices : StopLegacyServices, 1, &result), c.out);
  EXPECT_EQ(result, 1);
  for (const std::string& name : c.reached) EXPECT_EQ(State(name), after) << name;
  for (const std::string& name : c.left) EXPECT_EQ(State(name), before) << name;
  if (!c.opened.empty()) {
    EXPECT_EQ(OpenedServices(), c.opened);
  }
}

INSTANTIATE_TEST_SUITE_P(Roles, LegacyRoleRuns, testing::ValuesIn(kRoleRuns),
                         [](const testing::TestParamInfo<RoleRun>& info) { return std::string(info.param.name); });

}  // namespace

// A service that accepts a stop and goes on running: for its lag, then
// stop-pending for its stop time, then stopped; or for ever when hung. Seen
// through the manager's calls on a virtual clock, across a reboot, and on a
// machine made before the lag existed.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <optional>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/services/services_db.h"
#include "platform/win32.h"
#include "tests/support/scm_fixture.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"

namespace {

// Far beyond any wait: a hung service must still run after it.
constexpr DWORD kAgesMs = 0xFFFFFFF0u;

emu::admin::ServiceSpec Lagging(const std::string& name, int64_t lag_ms, int64_t stop_ms = 0) {
  emu::admin::ServiceSpec spec = testsupport::Service(name, SERVICE_RUNNING);
  spec.stop_lag_ms = lag_ms;
  spec.stop_ms = stop_ms;
  return spec;
}

using scmtest::SentinelStatus;
using testsupport::DependsOn;

class StopLagTest : public scmtest::ScmFixture {
 protected:
  // A stop request that is accepted; the status it reports.
  SERVICE_STATUS AcceptedStop(SC_HANDLE service) {
    SERVICE_STATUS status = SentinelStatus();
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    return status;
  }
  // A service that runs, accepts a stop and says it can be stopped.
  void ExpectRunning(SERVICE_STATUS status) {
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP);
    EXPECT_EQ(status.dwCheckPoint, 0u);
    EXPECT_EQ(status.dwWaitHint, 0u);
  }
};

TEST_F(StopLagTest, AcceptedStopRunsForTheLagThenPendsThenStops) {
  Define(Lagging("Lagging", 5000, 3000));
  ScopedService service = Open("Lagging");
  ExpectRunning(AcceptedStop(service.Get()));
  EXPECT_TRUE(Info("Lagging").stop_held);
  Sleep(4999);
  ExpectRunning(Status(service.Get()));
  // Asked again while it lags: accepted, still running, and the lag is not
  // restarted by the second request.
  ExpectRunning(AcceptedStop(service.Get()));
  Sleep(1);
  SERVICE_STATUS status = Status(service.Get());
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING);
  EXPECT_EQ(status.dwControlsAccepted, 0u);
  EXPECT_EQ(status.dwWaitHint, 3000u);
  EXPECT_FALSE(Info("Lagging").stop_held);
  // Once stop-pending it takes no further control, as before.
  status = SentinelStatus();
  EXPECT_FALSE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING);
  Sleep(2999);
  EXPECT_EQ(Status(service.Get()).dwWaitHint, 1u);
  Sleep(1);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_STOPPED);
  status = SentinelStatus();
  EXPECT_FALSE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

  // Started again, it lags again on its next stop, from that stop's moment.
  ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
  Sleep(60000);
  ExpectRunning(AcceptedStop(service.Get()));
  Sleep(4999);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_RUNNING);
  Sleep(1);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_STOP_PENDING);
}

TEST_F(StopLagTest, StateIsWorkedOutFromWhenTheLagEndedWhateverTheReads) {
  // Without a stop time the lag's end is the stop.
  Define(Lagging("NoPending", 2000));
  // Read first long after the lag: pending and stopped both already over.
  Define(Lagging("Unwatched", 1000, 2000));
  // Read during its pending time: the time left counts from the lag's end.
  Define(Lagging("Watched", 1000, 2000));
  ScopedService no_pending = Open("NoPending");
  ScopedService unwatched = Open("Unwatched");
  ScopedService watched = Open("Watched");
  for (SC_HANDLE service : {no_pending.Get(), unwatched.Get(), watched.Get()}) AcceptedStop(service);
  Sleep(1999);
  EXPECT_EQ(Status(no_pending.Get()).dwCurrentState, SERVICE_RUNNING);
  Sleep(1);
  SERVICE_STATUS status = Status(no_pending.Get());
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwControlsAccepted, 0u);
  status = Status(watched.Get());
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING);
  EXPECT_EQ(status.dwWaitHint, 1000u);
  Sleep(1000);
  EXPECT_EQ(Status(watched.Get()).dwCurrentState, SERVICE_STOPPED);
  Sleep(10000);
  EXPECT_EQ(Status(unwatched.Get()).dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(Info("Unwatched").state, SERVICE_STOPPED);
}

TEST_F(StopLagTest, HungServiceAcceptsEveryStopAndNeverLeavesRunning) {
  Define(Lagging("Hung", -1, 3000));
  ScopedService service = Open("Hung");
  ExpectRunning(AcceptedStop(service.Get()));
  Sleep(kAgesMs);
  ExpectRunning(Status(service.Get()));
  ExpectRunning(AcceptedStop(service.Get()));
  Sleep(kAgesMs);
  ExpectRunning(Status(service.Get()));
  emu::admin::ServiceInfo info = Info("Hung");
  EXPECT_EQ(info.state, SERVICE_RUNNING);
  EXPECT_EQ(info.stop_lag_ms, -1);
  EXPECT_TRUE(info.stop_held);
  // To the manager it is simply running.
  EXPECT_FALSE(StartServiceA(service.Get(), 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
}

TEST_F(StopLagTest, LaggingServiceStillCountsAsActive) {
  Define(Lagging("Base", 0));
  Define(DependsOn(Lagging("Dependent", 4000), {"Base"}));
  ScopedService base = Open("Base");
  ScopedService dependent_service = Open("Dependent");
  AcceptedStop(dependent_service.Get());
  // Its dependency cannot be stopped while it lags; the dependents list
  // shows it running.
  SERVICE_STATUS status = SentinelStatus();
  EXPECT_FALSE(ControlService(base.Get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), ERROR_DEPENDENT_SERVICES_RUNNING);
  alignas(ENUM_SERVICE_STATUSA) BYTE buffer[1440];
  DWORD needed = 0, count = 0;
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer);
  ASSERT_TRUE(EnumDependentServicesA(base.Get(), SERVICE_ACTIVE, entries, sizeof buffer, &needed, &count));
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(entries[0].lpServiceName, "Dependent");
  EXPECT_EQ(entries[0].ServiceStatus.dwCurrentState, SERVICE_RUNNING);
  // A service marked for deletion while it lags stays until the lag ends.
  ASSERT_TRUE(DeleteService(dependent_service.Get()));
  dependent_service.Close();
  Sleep(3999);
  EXPECT_EQ(Info("Dependent").state, SERVICE_RUNNING);
  Sleep(1);
  emu::admin::ServiceInfo gone;
  EXPECT_FALSE(emu::admin::QueryService("Dependent", &gone, nullptr));
  EXPECT_EQ(AcceptedStop(base.Get()).dwCurrentState, SERVICE_STOPPED);
}

TEST_F(StopLagTest, RebootForgetsAStopThatWasHeldBack) {
  auto automatic = Lagging("Automatic", 5000);
  automatic.start_type = SERVICE_AUTO_START;
  Define(automatic);
  Define(Lagging("Hung", -1));
  for (const char* name : {"Automatic", "Hung"}) AcceptedStop(Open(name).Get());
  std::string error;
  ASSERT_TRUE(emu::admin::RebootServices(&error)) << error;
  EXPECT_FALSE(Info("Automatic").stop_held);
  EXPECT_FALSE(Info("Hung").stop_held);
  EXPECT_EQ(Info("Hung").state, SERVICE_STOPPED);
  // Started by the boot, it keeps running past the old lag's end...
  Sleep(60000);
  ScopedService service = Open("Automatic");
  ExpectRunning(Status(service.Get()));
  // ...and the behaviour itself survives: the next stop lags in full.
  EXPECT_EQ(Info("Automatic").stop_lag_ms, 5000);
  AcceptedStop(service.Get());
  Sleep(4999);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_RUNNING);
  Sleep(1);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_STOPPED);
}

// A machine made before services had a lag: its services table lacks the
// two columns. Opening it adds them and keeps the rows; opening it again
// finds them there.
TEST(StopLagMigration, OldMachineGainsTheColumnsAndKeepsItsServices) {
  std::string dir = testsupport::MakeTempDir("mevrid-old-machine");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir + "/machine.db").c_str(), &db), SQLITE_OK);
  const char* old_schema =
      "CREATE TABLE services(uname TEXT PRIMARY KEY, state INTEGER NOT NULL DEFAULT 1,"
      " until_ms INTEGER NOT NULL DEFAULT 0, start_ms INTEGER NOT NULL DEFAULT 0, stop_ms INTEGER NOT NULL DEFAULT 0,"
      " start_fails INTEGER NOT NULL DEFAULT 0, refuse_stop INTEGER NOT NULL DEFAULT 0,"
      " marked_delete INTEGER NOT NULL DEFAULT 0);"
      "INSERT INTO services(uname, state, stop_ms) VALUES('OLDSVC', 4, 2500);";
  ASSERT_EQ(sqlite3_exec(db, old_schema, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  for (int open = 0; open < 2; ++open) {
    std::string error;
    ASSERT_TRUE(emu::OpenMachine(dir, false, &error)) << error;
    // Time stands at 0, before the lag written below ends.
    ASSERT_TRUE(emu::SetSetting("clock", "virtual"));
    emu::svc::Runtime runtime = emu::svc::LoadRuntime("OldSvc");
    EXPECT_EQ(runtime.state, SERVICE_RUNNING);
    EXPECT_EQ(runtime.stop_ms, 2500);
    EXPECT_EQ(runtime.stop_lag_ms, open == 0 ? 0 : 700);
    EXPECT_EQ(runtime.lag_until_ms, open == 0 ? std::nullopt : std::optional<int64_t>(1234));
    runtime.stop_lag_ms = 700;
    runtime.lag_until_ms = 1234;
    EXPECT_TRUE(emu::svc::SaveRuntime("OldSvc", runtime));
    emu::CloseMachine();
  }
  testsupport::RemoveTree(dir);
}

}  // namespace

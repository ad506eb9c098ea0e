// The emulated Service Control Manager over time (virtual clock): pending
// states, refusals with Windows' codes, the marked-for-delete lifecycle,
// dependencies started first, driver images, reboot and faults. Dependents
// in the Win32 buffer layout: service_dependents_test.cc.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32.h"
#include "tests/support/scm_fixture.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"

namespace {

constexpr char kServices[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr DWORD kRpcServerUnavailable = 1722;

emu::admin::ServiceSpec Spec(const std::string& name, DWORD state = SERVICE_STOPPED) {
  return testsupport::Service(name, state);
}

using scmtest::SentinelStatus;
using testsupport::DependsOn;

class ScmTest : public scmtest::ScmFixture {
 protected:
  bool Exists(const std::string& name) {
    emu::admin::ServiceInfo info;
    return emu::admin::QueryService(name, &info, nullptr);
  }
  DWORD StateOf(const std::string& name) { return Info(name).state; }
  ScopedService Create(LPCSTR name, DWORD type, DWORD start, LPCSTR image, LPCSTR display = nullptr,
                       LPCSTR depends = nullptr, LPCSTR group = nullptr) {
    return ScopedService(CreateServiceA(manager_.Get(), name, display, SERVICE_ALL_ACCESS, type, start,
                                        SERVICE_ERROR_NORMAL, image, group, nullptr, depends, nullptr, nullptr));
  }
  int64_t Key(const std::string& name) { return emu::store::FindKey(emu::store::kRootKeyId, kServices + name); }
  void WriteDriverImage(const std::string& file_name) {
    ASSERT_TRUE(testsupport::WriteFile(machine_.DriveC() + "/WINDOWS/system32/drivers/" + file_name, "MZ"));
  }
};

TEST_F(ScmTest, CreateServiceWritesWindowsValuesAndRefusesTakenNames) {
  ScopedService driver = Create("vtrin", SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, "System32\\drivers\\vtrin.sys",
                                "vtrin", nullptr, "Extended Base");
  ASSERT_TRUE(driver) << GetLastError();
  std::vector<std::string> written;
  for (const emu::store::Value& value : emu::store::Values(Key("vtrin"))) written.push_back(value.name);
  EXPECT_EQ(written, (std::vector<std::string>{"Type", "Start", "ErrorControl", "ImagePath", "DisplayName", "Group"}));
  ScopedService process = Create("Agent", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "C:\\bogus.exe",
                                 "Agent Display", "vtrin\0Other\0");
  ASSERT_TRUE(process) << GetLastError();
  EXPECT_EQ(emu::store::GetString(Key("Agent"), "ObjectName"), "LocalSystem");
  emu::store::Value value;
  ASSERT_TRUE(emu::store::GetValue(Key("Agent"), "DependOnService", &value));
  EXPECT_EQ(value.type, REG_MULTI_SZ);
  EXPECT_EQ(value.data, std::string("vtrin\0Other\0\0", 13));

  // Names and display names compare without case.
  ExpectError(Create("VTRIN", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "x.sys").Get() != nullptr,
              ERROR_SERVICE_EXISTS);
  ExpectError(Create("Agent2", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "a.exe", "agent display").Get() !=
                  nullptr,
              ERROR_DUPLICATE_SERVICE_NAME);
  ExpectError(Create("Other", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "o.exe", "AGENT").Get() != nullptr,
              ERROR_DUPLICATE_SERVICE_NAME);
  // Its own name as display name is taken too once another service shows it.
  Define(Spec("Shows"));
  ASSERT_TRUE(emu::store::SetValue(Key("Shows"), "DisplayName", REG_SZ, std::string("Newcomer\0", 9)));
  ExpectError(Create("Newcomer", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "n.exe", "Newcomer").Get() !=
                  nullptr,
              ERROR_DUPLICATE_SERVICE_NAME);
  EXPECT_FALSE(Exists("Newcomer"));
  EXPECT_TRUE(Open("VtRiN"));
}

TEST_F(ScmTest, BadArgumentsFailInWindowsOrder) {
  // The Services key holds other keys too: only one with a Type is a service.
  emu::store::CreateKey(emu::store::kRootKeyId, std::string(kServices) + "NotAService", "");
  for (auto [manager, name, error] : {std::tuple<SC_HANDLE, LPCSTR, DWORD>{manager_.Get(), "Missing",
                                                                          ERROR_SERVICE_DOES_NOT_EXIST},
                                      {manager_.Get(), "NotAService", ERROR_SERVICE_DOES_NOT_EXIST},
                                      {manager_.Get(), nullptr, ERROR_INVALID_ADDRESS},
                                      {manager_.Get(), "a\\b", ERROR_INVALID_NAME},
                                      {nullptr, "Missing", ERROR_INVALID_HANDLE}})
    ExpectError(ScopedService(OpenServiceA(manager, name, SERVICE_ALL_ACCESS)).Get() != nullptr, error);
  ExpectError(ScopedService(OpenSCManagerA("OTHERHOST", nullptr, 0)).Get() != nullptr, kRpcServerUnavailable);
  ExpectError(ScopedService(OpenSCManagerA(nullptr, "DoesNotExist", 0)).Get() != nullptr, ERROR_INVALID_NAME);

  ScopedService connect_only(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  constexpr DWORD kProcess = SERVICE_WIN32_OWN_PROCESS, kDemand = SERVICE_DEMAND_START;
  struct Case {
    SC_HANDLE manager;
    LPCSTR name;
    DWORD type, start;
    LPCSTR image;
    DWORD error;
  } cases[] = {
      {nullptr, "S", kProcess, kDemand, "s.exe", ERROR_INVALID_HANDLE},
      {manager_.Get(), nullptr, kProcess, kDemand, "s.exe", ERROR_INVALID_ADDRESS},
      {connect_only.Get(), "S", kProcess, kDemand, "s.exe", ERROR_ACCESS_DENIED},
      {manager_.Get(), "", kProcess, kDemand, "", ERROR_INVALID_NAME},
      {manager_.Get(), "S", kProcess, kDemand, "", ERROR_INVALID_PARAMETER},
      {manager_.Get(), "S", kProcess, SERVICE_BOOT_START, "s.exe", ERROR_INVALID_PARAMETER},
      {manager_.Get(), "S", SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER, kDemand, "s.sys",
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases)
    ExpectError(ScopedService(CreateServiceA(c.manager, c.name, nullptr, SERVICE_ALL_ACCESS, c.type, c.start,
                                             SERVICE_ERROR_NORMAL, c.image, nullptr, nullptr, nullptr, nullptr,
                                             nullptr))
                        .Get() != nullptr,
                c.error);
  EXPECT_EQ(Key("S"), emu::store::kNoKey);
}

TEST_F(ScmTest, HandlesAreCheckedForKindStateAndAccess) {
  Define(Spec("Svc", SERVICE_RUNNING));
  SERVICE_STATUS status = SentinelStatus();
  ExpectError(QueryServiceStatus(nullptr, &status), ERROR_INVALID_HANDLE);
  ExpectError(QueryServiceStatus(manager_.Get(), &status), ERROR_INVALID_HANDLE);
  SC_HANDLE closed = OpenServiceA(manager_.Get(), "Svc", SERVICE_ALL_ACCESS);
  EXPECT_TRUE(CloseServiceHandle(closed));
  ExpectError(QueryServiceStatus(closed, &status), ERROR_INVALID_HANDLE);
  ExpectError(CloseServiceHandle(closed), ERROR_INVALID_HANDLE);

  ScopedService query_only = Open("Svc", SERVICE_QUERY_STATUS);
  ExpectError(QueryServiceStatus(query_only.Get(), nullptr), ERROR_INVALID_ADDRESS);
  EXPECT_EQ(Status(query_only.Get()).dwCurrentState, SERVICE_RUNNING);
  ExpectError(ControlService(query_only.Get(), SERVICE_CONTROL_STOP, &status), ERROR_ACCESS_DENIED);
  EXPECT_EQ(status.dwCurrentState, SentinelStatus().dwCurrentState);
  ExpectError(StartServiceA(query_only.Get(), 0, nullptr), ERROR_ACCESS_DENIED);
  ExpectError(DeleteService(query_only.Get()), ERROR_ACCESS_DENIED);
  DWORD needed = 0, count = 0;
  ExpectError(EnumDependentServicesA(query_only.Get(), SERVICE_ACTIVE, nullptr, 0, &needed, &count),
              ERROR_ACCESS_DENIED);
  ExpectError(QueryServiceStatus(Open("Svc", SERVICE_STOP).Get(), &status), ERROR_ACCESS_DENIED);
  EXPECT_EQ(StateOf("Svc"), SERVICE_RUNNING);
  // Generic read maps onto the status and dependents rights.
  ScopedService generic = Open("Svc", GENERIC_READ);
  EXPECT_TRUE(EnumDependentServicesA(generic.Get(), SERVICE_ACTIVE, nullptr, 0, &needed, &count));
  EXPECT_EQ(count, 0u);
}

TEST_F(ScmTest, StartPendingLastsTheServicesStartTime) {
  auto spec = Spec("Slow");
  spec.start_ms = 3000;
  Define(spec);
  ScopedService service = Open("Slow");
  ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
  SERVICE_STATUS status = Status(service.Get());
  EXPECT_EQ(status.dwCurrentState, SERVICE_START_PENDING);
  EXPECT_EQ(status.dwWaitHint, 3000u);
  EXPECT_EQ(status.dwControlsAccepted, 0u);
  ExpectError(StartServiceA(service.Get(), 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING);
  Sleep(2999);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_START_PENDING);
  Sleep(1);
  status = Status(service.Get());
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP);
  ExpectError(StartServiceA(service.Get(), 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING);

  // A failing start is accepted, then the service is found stopped.
  auto failing = Spec("Failing");
  failing.start_fails = true;
  failing.start_ms = 2000;
  Define(failing);
  ScopedService fails = Open("Failing");
  EXPECT_TRUE(StartServiceA(fails.Get(), 0, nullptr));
  EXPECT_EQ(Status(fails.Get()).dwCurrentState, SERVICE_START_PENDING);
  Sleep(2000);
  EXPECT_EQ(Status(fails.Get()).dwCurrentState, SERVICE_STOPPED);
  failing.start_ms = 0;
  Define(failing);
  EXPECT_TRUE(StartServiceA(fails.Get(), 0, nullptr));
  EXPECT_EQ(Status(fails.Get()).dwCurrentState, SERVICE_STOPPED);
}

TEST_F(ScmTest, StopReportsTheStateAfterTheControl) {
  auto slow = Spec("SlowStop", SERVICE_RUNNING);
  slow.stop_ms = 5000;
  Define(slow);
  Define(Spec("QuickStop", SERVICE_RUNNING));
  ScopedService service = Open("SlowStop");
  SERVICE_STATUS status = SentinelStatus();
  ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING);
  EXPECT_EQ(status.dwWaitHint, 5000u);
  Sleep(4999);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_STOP_PENDING);
  ExpectError(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  Sleep(1);
  EXPECT_EQ(Status(service.Get()).dwCurrentState, SERVICE_STOPPED);

  ScopedService quick = Open("QuickStop");
  status = SentinelStatus();
  ASSERT_TRUE(ControlService(quick.Get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwWaitHint, 0u);
}

TEST_F(ScmTest, RefusedControlsCarryWindowsCodesAndStatusOnlyWhereWindowsGivesIt) {
  Define(Spec("Stopped"));
  auto starting = Spec("Starting", SERVICE_START_PENDING);
  starting.start_ms = 10000;
  Define(starting);
  auto busy = Spec("Busy", SERVICE_RUNNING);
  busy.refuse_stop = ERROR_SERVICE_REQUEST_TIMEOUT;
  Define(busy);
  auto stubborn = Spec("Stubborn", SERVICE_RUNNING);
  stubborn.refuse_stop = ERROR_INVALID_SERVICE_CONTROL;
  Define(stubborn);
  Define(Spec("Base", SERVICE_RUNNING));
  Define(DependsOn(Spec("OnBase", SERVICE_RUNNING), {"Base"}));

  struct Case {
    const char* name;
    DWORD control, error, reported_state;  // reported_state 0: status left alone
  } cases[] = {
      {"Stopped", SERVICE_CONTROL_STOP, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
      {"Starting", SERVICE_CONTROL_STOP, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_START_PENDING},
      {"Busy", SERVICE_CONTROL_STOP, ERROR_SERVICE_REQUEST_TIMEOUT, 0},
      {"Stubborn", SERVICE_CONTROL_STOP, ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING},
      {"Base", SERVICE_CONTROL_STOP, ERROR_DEPENDENT_SERVICES_RUNNING, 0},
      {"Stopped", SERVICE_CONTROL_INTERROGATE, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
      {"Base", 2 /* pause */, ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING},
      {"Base", 0, ERROR_INVALID_PARAMETER, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " control " + std::to_string(c.control));
    ScopedService service = Open(c.name);
    SERVICE_STATUS status = SentinelStatus();
    SetLastError(kSentinel);
    ExpectError(ControlService(service.Get(), c.control, &status), c.error);
    EXPECT_EQ(status.dwCurrentState, c.reported_state ? c.reported_state : SentinelStatus().dwCurrentState);
  }
  EXPECT_EQ(StateOf("Busy"), SERVICE_RUNNING);
  EXPECT_EQ(StateOf("Base"), SERVICE_RUNNING);
  ScopedService base = Open("Base");
  SERVICE_STATUS status = SentinelStatus();
  EXPECT_TRUE(ControlService(base.Get(), SERVICE_CONTROL_INTERROGATE, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
}

// Services: Base <- Mid <- Top, Base <- Side (running), Base <- Idle (stopped).
TEST_F(ScmTest, DeletedServiceStaysMarkedUntilItsLastHandleCloses) {
  SC_HANDLE first = Create("Doomed", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "d.exe").Release();
  ASSERT_NE(first, nullptr);
  SC_HANDLE second = OpenServiceA(manager_.Get(), "doomed", SERVICE_ALL_ACCESS);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(DeleteService(first));
  uint32_t flag = 0;
  EXPECT_TRUE(emu::store::GetDword(Key("Doomed"), "DeleteFlag", &flag) && flag == 1);
  ExpectError(DeleteService(second), ERROR_SERVICE_MARKED_FOR_DELETE);
  ExpectError(StartServiceA(second, 0, nullptr), ERROR_SERVICE_MARKED_FOR_DELETE);
  ExpectError(Create("Doomed", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "d.exe").Get() != nullptr,
              ERROR_SERVICE_MARKED_FOR_DELETE);
  // Still there to be opened while a handle holds it.
  ScopedService third = Open("Doomed");
  third.Close();
  EXPECT_TRUE(CloseServiceHandle(first));
  EXPECT_NE(Key("Doomed"), emu::store::kNoKey);
  EXPECT_TRUE(CloseServiceHandle(second));
  EXPECT_EQ(Key("Doomed"), emu::store::kNoKey);
  ExpectError(OpenServiceA(manager_.Get(), "Doomed", SERVICE_ALL_ACCESS) != nullptr, ERROR_SERVICE_DOES_NOT_EXIST);
  ScopedService again = Create("Doomed", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "d.exe");
  EXPECT_TRUE(again);
  EXPECT_EQ(emu::store::GetString(Key("Doomed"), "DeleteFlag", "none"), "none");
}

// A close that a fault rule makes fail still lets go of the handle: on
// Windows such a close had no open handle to keep, so the deleted service
// goes and its name is free for a new one at once.
TEST_F(ScmTest, AFailedCloseStillLetsADeletedServiceGo) {
  SC_HANDLE doomed = Create("Doomed", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "d.exe").Release();
  ASSERT_NE(doomed, nullptr);
  ASSERT_TRUE(DeleteService(doomed));
  ASSERT_TRUE(emu::AddFaultRule("CloseServiceHandle", "Doomed", ERROR_INVALID_HANDLE, 1, false));
  ExpectError(CloseServiceHandle(doomed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Key("Doomed"), emu::store::kNoKey);
  EXPECT_TRUE(Create("Doomed", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "d.exe"));
  ExpectError(CloseServiceHandle(doomed), ERROR_INVALID_HANDLE);
}

TEST_F(ScmTest, RunningMarkedServiceGoesWhenItsStopEnds) {
  auto spec = Spec("Winding", SERVICE_RUNNING);
  spec.stop_ms = 2000;
  Define(spec);
  {
    ScopedService service = Open("Winding");
    ASSERT_TRUE(DeleteService(service.Get()));
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
  }
  EXPECT_TRUE(Exists("Winding"));
  Sleep(1999);
  EXPECT_TRUE(Exists("Winding"));
  Sleep(1);
  EXPECT_FALSE(Exists("Winding"));
  EXPECT_EQ(Key("Winding"), emu::store::kNoKey);
}

// A process killed while it held a handle, and not yet reaped by its parent
// (a zombie), has ended too: its handle no longer keeps the service.
TEST_F(ScmTest, OnlyHandlesOfLiveProcessesKeepAMarkedServiceAlive) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  pid_t zombie = fork();
  if (zombie == 0) _exit(0);
  ASSERT_GT(zombie, 0);
  // Ended, not reaped: its /proc entry stays until the wait below.
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(zombie), nullptr, WEXITED | WNOWAIT), 0);
  Define(Spec("Held"));
  auto add_row = [](int64_t pid) {
    emu::Statement st(emu::Db(), "INSERT INTO service_handles(pid, uname) VALUES(?1, 'HELD')");
    st.Bind(1, pid);
    return st.Run();
  };
  ASSERT_TRUE(add_row(child));           // a process that ended holding a handle
  ASSERT_TRUE(add_row(zombie));          // one that ended and is not yet reaped
  ASSERT_TRUE(add_row(getppid()));       // a live one
  {
    ScopedService service = Open("Held");
    ASSERT_TRUE(DeleteService(service.Get()));
  }
  EXPECT_TRUE(Exists("Held"));
  emu::Statement drop(emu::Db(), "DELETE FROM service_handles WHERE pid=?1");
  drop.Bind(1, static_cast<int64_t>(getppid()));
  ASSERT_TRUE(drop.Run());
  ExpectError(OpenServiceA(manager_.Get(), "Held", SERVICE_ALL_ACCESS) != nullptr, ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(Key("Held"), emu::store::kNoKey);
  // Not ERROR_SERVICE_MARKED_FOR_DELETE: the name is free again.
  ScopedService created(CreateServiceA(manager_.Get(), "Held", "Held", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, "System32\\drivers\\held.sys",
                                       nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_TRUE(created) << GetLastError();
  waitpid(zombie, nullptr, 0);
}

TEST_F(ScmTest, DriverStartsOnlyWithItsImageAndHoldsItWhileRunning) {
  auto spec = Spec("vtrin");
  spec.driver = true;
  spec.image = "System32\\drivers\\vtrin.sys";
  Define(spec);
  ScopedService driver = Open("vtrin");
  ExpectError(StartServiceA(driver.Get(), 0, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(StateOf("vtrin"), SERVICE_STOPPED);
  EXPECT_TRUE(emu::RunningDriverImages().empty());

  // Found whatever the letter case; the caller's SystemRoot does not matter
  // to the kernel.
  WriteDriverImage("VTRIN.SYS");
  setenv("SystemRoot", "", 1);
  EXPECT_TRUE(StartServiceA(driver.Get(), 0, nullptr)) << GetLastError();
  unsetenv("SystemRoot");
  EXPECT_EQ(StateOf("vtrin"), SERVICE_RUNNING);
  std::string host = machine_.DriveC() + "/WINDOWS/system32/drivers/VTRIN.SYS";
  EXPECT_EQ(emu::RunningDriverImages(), std::vector<std::string>{host});
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(driver.Get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(emu::RunningDriverImages().empty());

  for (const char* image : {"\\SystemRoot\\System32\\drivers\\vtrin.sys", "\\??\\C:\\WINDOWS\\system32\\drivers\\vtrin.sys",
                            "C:\\Windows\\System32\\Drivers\\Vtrin.sys", "%SystemRoot%\\system32\\drivers\\vtrin.sys",
                            "" /* no ImagePath: drivers\<name>.sys */}) {
    SCOPED_TRACE(image);
    spec.image = image;
    Define(spec);
    EXPECT_TRUE(StartServiceA(driver.Get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(emu::RunningDriverImages(), std::vector<std::string>{host});
    ASSERT_TRUE(ControlService(driver.Get(), SERVICE_CONTROL_STOP, &status));
  }
  spec.image = "\\??\\C:\\nowhere\\vtrin.sys";
  Define(spec);
  ExpectError(StartServiceA(driver.Get(), 0, nullptr), ERROR_PATH_NOT_FOUND);

  // A process service needs no image in the emulation.
  auto process = Spec("Agent");
  process.image = "C:\\bogus\\agent.exe";
  Define(process);
  EXPECT_TRUE(StartServiceA(Open("Agent").Get(), 0, nullptr));
  EXPECT_TRUE(emu::RunningDriverImages().empty());
}

TEST_F(ScmTest, StartBringsUpDependenciesFirst) {
  auto lower = Spec("Lower");
  lower.start_ms = 2000;
  Define(lower);
  auto upper = Spec("Upper");
  upper.start_ms = 1000;
  upper.depends = {"Lower"};
  Define(upper);
  ScopedService service = Open("Upper");
  ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
  EXPECT_EQ(StateOf("Lower"), SERVICE_START_PENDING);
  EXPECT_EQ(Status(service.Get()).dwWaitHint, 3000u);
  Sleep(2000);
  EXPECT_EQ(StateOf("Lower"), SERVICE_RUNNING);
  EXPECT_EQ(StateOf("Upper"), SERVICE_START_PENDING);
  Sleep(1000);
  EXPECT_EQ(StateOf("Upper"), SERVICE_RUNNING);

  auto off = Spec("Off");
  off.start_type = SERVICE_DISABLED;
  Define(off);
  auto failing = Spec("Failing");
  failing.start_fails = true;
  Define(failing);
  auto group_member = Spec("Member");
  group_member.group = "Net";
  Define(group_member);
  struct Case {
    const char* name;
    std::vector<std::string> depends;
    DWORD error;
  } cases[] = {
      {"OnMissing", {"Missing"}, ERROR_SERVICE_DEPENDENCY_DELETED},
      {"OnDisabled", {"Off"}, ERROR_SERVICE_DEPENDENCY_FAIL},
      {"OnFailing", {"Failing"}, ERROR_SERVICE_DEPENDENCY_FAIL},
      {"Loop1", {"Loop2"}, ERROR_CIRCULAR_DEPENDENCY},
      {"Loop2", {"Loop1"}, ERROR_CIRCULAR_DEPENDENCY},
      {"OnGroup", {"+Net"}, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    auto spec = Spec(c.name);
    spec.depends = c.depends;
    Define(spec);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedService dependent = Open(c.name);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(StartServiceA(dependent.Get(), 0, nullptr), c.error == ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(StateOf(c.name), c.error == ERROR_SUCCESS ? SERVICE_RUNNING : SERVICE_STOPPED);
  }
  EXPECT_EQ(StateOf("Member"), SERVICE_RUNNING);
}

TEST_F(ScmTest, RebootResetsStatesAndStartsAutomaticServices) {
  auto spec = Spec("Demand", SERVICE_RUNNING);
  Define(spec);
  spec = Spec("Auto");
  spec.start_type = SERVICE_AUTO_START;
  spec.start_ms = 500;
  Define(spec);
  spec = Spec("vtrin");
  spec.driver = true;
  spec.start_type = SERVICE_SYSTEM_START;
  spec.image = "System32\\drivers\\vtrin.sys";
  Define(spec);
  WriteDriverImage("vtrin.sys");
  spec = Spec("NoImage");
  spec.driver = true;
  spec.start_type = SERVICE_BOOT_START;
  Define(spec);
  spec = Spec("Off", SERVICE_RUNNING);
  spec.start_type = SERVICE_DISABLED;
  Define(spec);
  Define(Spec("Marked", SERVICE_RUNNING));
  Define(Spec("Flagged"));
  ASSERT_TRUE(emu::store::SetDword(Key("Flagged"), "DeleteFlag", 1));
  SC_HANDLE marked = OpenServiceA(manager_.Get(), "Marked", SERVICE_ALL_ACCESS);
  ASSERT_TRUE(DeleteService(marked));

  std::string error;
  ASSERT_TRUE(emu::admin::RebootServices(&error)) << error;
  std::vector<std::string> states;
  for (const emu::admin::ServiceInfo& info : emu::admin::ListServices())
    states.push_back(info.name + ":" + std::to_string(info.state));
  EXPECT_EQ(states, (std::vector<std::string>{"Auto:2", "Demand:1", "NoImage:1", "Off:1", "vtrin:4"}));
  EXPECT_EQ(Key("Marked"), emu::store::kNoKey);
  // The service went with the reboot: a handle that outlived it refers to nothing.
  SERVICE_STATUS status;
  ExpectError(QueryServiceStatus(marked, &status), ERROR_INVALID_HANDLE);
  CloseServiceHandle(marked);
}

TEST_F(ScmTest, AdminDefinesQueriesAndRejectsBadSpecs) {
  auto spec = Spec("b", SERVICE_START_PENDING);
  spec.start_ms = 400;
  spec.depends = {"A", "+Grp"};
  Define(spec);
  Define(Spec("A"));
  Define(Spec("c", SERVICE_STOP_PENDING));  // no stop time: stopped at the next look
  emu::admin::ServiceInfo info;
  ASSERT_TRUE(emu::admin::QueryService("B", &info, nullptr));
  EXPECT_EQ(info.name, "b");
  EXPECT_EQ(info.display, "b");
  EXPECT_EQ(info.depends, (std::vector<std::string>{"A", "+Grp"}));
  EXPECT_EQ(info.state, SERVICE_START_PENDING);
  Sleep(400);
  std::vector<std::string> states;
  for (const emu::admin::ServiceInfo& listed : emu::admin::ListServices())
    states.push_back(listed.name + ":" + std::to_string(listed.state));
  EXPECT_EQ(states, (std::vector<std::string>{"A:1", "b:4", "c:1"}));

  std::string error;
  EXPECT_FALSE(emu::admin::DefineService(Spec("a\\b"), &error));
  EXPECT_FALSE(emu::admin::DefineService(Spec("x", 9), &error));
  spec = Spec("x");
  spec.start_type = SERVICE_SYSTEM_START;  // only drivers start with the system
  EXPECT_FALSE(emu::admin::DefineService(spec, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(emu::admin::RemoveServiceDefinition("A", &error));
  EXPECT_FALSE(emu::admin::RemoveServiceDefinition("A", &error));
  EXPECT_EQ(error, "no service named A");
}

TEST_F(ScmTest, FaultRulesFailTheNamedCallAndTheTraceNamesEachHandle) {
  Define(Spec("vtrin"));
  ASSERT_TRUE(emu::AddFaultRule("StartServiceA", "VTRIN", ERROR_SERVICE_REQUEST_TIMEOUT, 1, false));
  ASSERT_TRUE(emu::AddFaultRule("ControlService", "", ERROR_SERVICE_NOT_ACTIVE, 1, false));
  ASSERT_TRUE(emu::AddFaultRule("OpenSCManagerA", "", ERROR_ACCESS_DENIED, 1, false));
  ScopedService service = Open("vtrin");
  ExpectError(StartServiceA(service.Get(), 0, nullptr), ERROR_SERVICE_REQUEST_TIMEOUT);
  EXPECT_EQ(StateOf("vtrin"), SERVICE_STOPPED);
  EXPECT_TRUE(StartServiceA(service.Get(), 0, nullptr));
  // An injected "not active" reports the status as a real one would.
  SERVICE_STATUS status = SentinelStatus();
  ExpectError(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status), ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  ExpectError(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS) != nullptr, ERROR_ACCESS_DENIED);
  service.Close();

  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  {
    ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedService opened(OpenServiceA(manager.Get(), "vtrin", SERVICE_ALL_ACCESS));
    Status(opened.Get());
  }
  emu::SetCallTrace(nullptr);
  EXPECT_EQ(trace, (std::vector<std::string>{"OpenSCManagerA SCManager", "OpenServiceA vtrin",
                                             "QueryServiceStatus vtrin", "CloseServiceHandle vtrin",
                                             "CloseServiceHandle SCManager"}));
}

TEST(ScmErrors, LastErrorIsPerThreadAndSleepMovesOnlyTheVirtualClock) {
  SetLastError(7);
  DWORD seen_in_thread = kSentinel;
  std::thread other([&] {
    seen_in_thread = GetLastError();
    SetLastError(9);
  });
  other.join();
  EXPECT_EQ(seen_in_thread, 0u);
  EXPECT_EQ(GetLastError(), 7u);

  testsupport::TestMachine machine;
  long long before = machine.NowMs();
  Sleep(135000);
  EXPECT_EQ(machine.NowMs() - before, 135000);
}

}  // namespace

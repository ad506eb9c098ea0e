// The emulated Service Control Manager as its tests see it: a fresh machine
// (virtual clock) with the manager open, services defined through the
// machine's admin interface, and status reads that start from a sentinel so
// that a field the call did not write shows.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace scmtest {

inline SERVICE_STATUS SentinelStatus() {
  SERVICE_STATUS status;
  memset(&status, 0xEE, sizeof status);
  return status;
}

class ScmFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = ScopedService(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_);
  }
  void Define(const emu::admin::ServiceSpec& spec) {
    std::string error;
    ASSERT_TRUE(emu::admin::DefineService(spec, &error)) << error;
  }
  ScopedService Open(const std::string& name, DWORD access = SERVICE_ALL_ACCESS) {
    ScopedService service(OpenServiceA(manager_.Get(), name.c_str(), access));
    EXPECT_TRUE(service) << name << " error " << GetLastError();
    return service;
  }
  SERVICE_STATUS Status(SC_HANDLE service) {
    SERVICE_STATUS status = SentinelStatus();
    EXPECT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
    return status;
  }
  // The call failed and left exactly this last error.
  static void ExpectError(BOOL ok, DWORD error) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), error);
  }
  // What the machine itself holds of a service.
  emu::admin::ServiceInfo Info(const std::string& name) {
    emu::admin::ServiceInfo info;
    std::string error;
    EXPECT_TRUE(emu::admin::QueryService(name, &info, &error)) << error;
    return info;
  }

  testsupport::TestMachine machine_;
  ScopedService manager_;
};

}  // namespace scmtest

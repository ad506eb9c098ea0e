// RemoveService and CreateDriverService against the emulated manager.
#include "services/service_definition.h"

#include "platform/handles.h"
#include "tests/support/service_fixture.h"

namespace servicetest {
namespace {

constexpr char kDriverDisplay[] = "Kelm Embedded System Management Driver";

class RemoveServiceTest : public ServiceTest {
 protected:
  Outcome Remove(const char* name = "Alpha", Flag verbose = 1) {
    return Run([&] { return RemoveService(name, "Alpha Display", verbose); });
  }
  bool Exists(const std::string& name) {
    emu::admin::ServiceInfo info;
    std::string error;
    return emu::admin::QueryService(name, &info, &error);
  }
};

TEST_F(RemoveServiceTest, StoppedServiceIsDeleted) {
  Define(Service("Alpha", SERVICE_STOPPED));
  Outcome o = Remove();
  EXPECT_EQ(o.out, "Removing Service (Alpha Display).\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_FALSE(Exists("Alpha"));
  EXPECT_LT(Index("CloseServiceHandle Alpha"), Index("CloseServiceHandle SCManager"));
  ExpectBalanced();
}

TEST_F(RemoveServiceTest, ServiceAlreadyMarkedForDeleteCountsAsRemoved) {
  // A running service stays, marked for deletion, until it stops.
  Define(Service("Alpha", SERVICE_RUNNING));
  EXPECT_EQ(Remove().result, 1);
  emu::admin::ServiceInfo info;
  std::string error;
  ASSERT_TRUE(emu::admin::QueryService("Alpha", &info, &error)) << error;
  EXPECT_TRUE(info.marked_for_delete);
  Outcome o = Remove();
  EXPECT_EQ(o.out, "Removing Service (Alpha Display).\n");
  EXPECT_EQ(o.result, 1);
  ExpectBalanced();
}

TEST_F(RemoveServiceTest, OtherDeletionFailuresAreSilent) {
  Define(Service("Alpha", SERVICE_STOPPED));
  Fail("DeleteService", "Alpha", ERROR_ACCESS_DENIED);
  Outcome o = Remove();
  EXPECT_EQ(o.out, "Removing Service (Alpha Display).\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(Exists("Alpha"));
  ExpectBalanced();
}

class CreateDriverServiceTest : public ServiceTest {
 protected:
  Outcome Create(Flag verbose = 1) { return Run([&] { return CreateDriverService("vtrin", kDriverDisplay, verbose); }); }
};

TEST_F(CreateDriverServiceTest, RegistersTheDriverConfiguration) {
  Outcome o = Create();
  EXPECT_EQ(o.out, "Installing Driver (Kelm Embedded System Management Driver).\n");
  EXPECT_EQ(o.result, 1);
  emu::admin::ServiceInfo info;
  std::string error;
  ASSERT_TRUE(emu::admin::QueryService("vtrin", &info, &error)) << error;
  EXPECT_EQ(info.type, SERVICE_KERNEL_DRIVER);
  EXPECT_EQ(info.start_type, SERVICE_AUTO_START);
  EXPECT_EQ(info.error_control, SERVICE_ERROR_NORMAL);
  EXPECT_EQ(info.image, "System32\\drivers\\vtrin.sys");
  EXPECT_EQ(info.group, "Extended Base");
  EXPECT_EQ(info.display, "vtrin");
  EXPECT_TRUE(info.depends.empty());
  EXPECT_EQ(info.state, SERVICE_STOPPED);
  // The service's key carries Windows' own value names.
  std::string key = machine_.Export("SYSTEM\\CurrentControlSet\\Services\\vtrin");
  EXPECT_NE(key.find("\"Type\"=dword:00000001"), std::string::npos) << key;
  EXPECT_NE(key.find("\"Start\"=dword:00000002"), std::string::npos) << key;
  EXPECT_NE(key.find("\"ErrorControl\"=dword:00000001"), std::string::npos) << key;
  EXPECT_NE(key.find("\"Group\"=\"Extended Base\""), std::string::npos) << key;
  EXPECT_NE(key.find("\"DisplayName\"=\"vtrin\""), std::string::npos) << key;
  // The new service's handle goes before the manager's.
  EXPECT_LT(Index("CloseServiceHandle vtrin"), Index("CloseServiceHandle SCManager"));
  ExpectBalanced();
}

TEST_F(CreateDriverServiceTest, ExistingServiceFailsWithoutErrorLine) {
  Define(Service("vtrin", SERVICE_STOPPED));
  Outcome o = Create();
  EXPECT_EQ(o.out, "Installing Driver (Kelm Embedded System Management Driver).\n");
  EXPECT_EQ(o.result, 0);
  ExpectBalanced(1);
}

TEST_F(CreateDriverServiceTest, ServiceMarkedForDeleteIsReported) {
  Define(Service("vtrin", SERVICE_RUNNING));
  ASSERT_EQ(Run([] { return RemoveService("vtrin", "vtrin", 0); }).result, 1);
  Outcome o = Create();
  EXPECT_EQ(o.out,
            "Installing Driver (Kelm Embedded System Management Driver).\n"
            "\tERROR: Could not open handle to driver - vtrin\n");
  EXPECT_EQ(o.result, 0);
  ExpectBalanced(1);
}

}  // namespace
}  // namespace servicetest

// The one mend beyond the documented steps: a current component that records
// this tool's own version 4.0 and whose driver service the manager says does
// not exist is installed in full, since an install that only registered would
// report success without a driver. A driver that is merely stopped, or that
// cannot be asked about, is not touched, and neither is a component that a
// newer installer recorded.
#include <cerrno>

#include "component/component_keys.h"
#include "component/install.h"
#include "services/driver_service.h"
#include "services/stop_service.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

const std::string kDisplay = kDriverServiceDisplay;
const std::string kFoundCurrent = "Found KOTA Version: 4.0 installed.\n";

using Lines = std::vector<std::string>;

// A machine after the installs of ALPHA and BETA, the driver running.
class RepairTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    PutHelper("record_args", "C:\\Products\\Alpha\\pre.exe");
    PutHelper("record_args", "C:\\Products\\Beta\\pre.exe");
    Captured([&] {
      ASSERT_EQ(InstallComponent("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA", 0), 1);
      ASSERT_EQ(InstallComponent("BETA", "C:\\Products\\Beta\\pre.exe BETA", 0), 1);
    });
    ASSERT_EQ(unlink(record_file_.c_str()) == 0 || errno == ENOENT, true);
  }

  Flag Install(const char* name, Flag verbose = 1) {
    Flag result = 9;
    output_ = Captured([&] { result = InstallComponent(name, "C:\\g.exe", verbose); });
    return result;
  }
  uint32_t DriverState() {
    emu::admin::ServiceInfo info;
    return ServiceExists(kDriverServiceName, &info) ? info.state : 0;
  }
  // Only the caller's reference changed: the keys of the others as they were.
  void ExpectOnlyRegistered(const char* name) {
    EXPECT_TRUE(KeyExists(((std::string(kKotaReferencesKey) + "\\") + name).c_str()));
    EXPECT_TRUE(RecordedLines().empty());
  }

  std::string output_;
};

// The version and the files are current, but the driver service went with
// an install interrupted before it was created anew: the whole install runs,
// every older reference told "-e" and "-b", the caller registered last.
TEST_F(RepairTest, ACurrentComponentWithoutItsDriverServiceIsInstalledAgain) {
  std::string error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
  EXPECT_EQ(Install("GAMMA"), 1);
  EXPECT_EQ(output_, kFoundCurrent + "\nStopping: ALPHA\n\nStopping: BETA\nInstalling Driver (" + kDisplay +
                         ").\nStarting Service (" + kDisplay + ")\n\nStarting: ALPHA\n\nStarting: BETA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));
}

// A stopped driver of this version (its start failed, which fails no
// install, or it was stopped since) is left as it is: a current component
// only gains the reference, no product is told and no service is touched.
// The driver starts at the next restart; retrying its load is not for a
// registration to decide.
TEST_F(RepairTest, AStoppedDriverOfACurrentComponentIsLeftStopped) {
  Captured([] { ASSERT_EQ(StopServiceTree(kDriverServiceName, kDriverServiceDisplay, 0), 1); });
  ASSERT_EQ(DriverState(), SERVICE_STOPPED);
  std::string version = machine_.Export(kKotaVersionKey);
  EXPECT_EQ(Install("GAMMA"), 1);
  EXPECT_EQ(output_, kFoundCurrent);
  EXPECT_EQ(DriverState(), SERVICE_STOPPED);
  EXPECT_EQ(machine_.Export(kKotaVersionKey), version);
  ExpectOnlyRegistered("GAMMA");
}

// A driver service that cannot be asked about is never taken for a missing
// one: the component is current and only the reference is added.
TEST_F(RepairTest, AnUnanswerableDriverLeavesACurrentComponentAlone) {
  Fault("OpenServiceA", kDriverServiceName, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA"), 1);
  EXPECT_EQ(output_, kFoundCurrent);
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  ExpectOnlyRegistered("GAMMA");
}

// The mend follows a failed registration like any full install: the driver
// is back, and the result is that of the registration.
TEST_F(RepairTest, TheReinstallEndsWithTheRegistrationsResult) {
  std::string error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
  Fault("RegCreateKeyExA", "GAMMA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA", 0), 0);
  EXPECT_EQ(output_, "");
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e -q", "BETA -e -q", "ALPHA -b -q", "BETA -b -q"}));
}

}  // namespace
}  // namespace componenttest

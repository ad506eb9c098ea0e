// What an install or a removal does with a component that an interrupted
// run left behind: a current component whose driver service is missing or
// stopped, a component without any reference, and the records a failed
// removal keeps so that the next removal can finish it.
#include <cerrno>

#include "component/component_keys.h"
#include "component/component_test_fixture.h"
#include "component/install.h"
#include "component/uninstall.h"
#include "services/service_control.h"

namespace componenttest {
namespace {

const std::string kDisplay = KOTA_DRIVER_DISPLAY;
const std::string kStopAndRemove = "Stopping Service (" + kDisplay + ")\nRemoving Service (" + kDisplay + ").\n";
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
  Flag Uninstall(const char* name, Flag verbose = 1) {
    Flag result = 9;
    output_ = Captured([&] { result = UninstallComponent(name, verbose); });
    return result;
  }
  // The references' keys gone as a removal interrupted after its deletion
  // leaves them: the component with no reference at all.
  void DropAllReferences() {
    int64_t key = emu::store::FindKey(emu::store::kRootKeyId, KOTA_REFERENCES_KEY);
    ASSERT_NE(key, emu::store::kNoKey);
    ASSERT_TRUE(emu::store::DeleteTree(key));
  }
  uint32_t DriverState() {
    emu::admin::ServiceInfo info;
    return ServiceExists(KOTA_DRIVER_SERVICE, &info) ? info.state : 0;
  }
  bool Exists(const char* windows_path) const { return testsupport::FileExists(Host(windows_path)); }
  void ExpectComponentGone() {
    EXPECT_FALSE(KeyExists(KOTA_COMPONENT_KEY));
    EXPECT_FALSE(ServiceExists(KOTA_DRIVER_SERVICE));
    EXPECT_FALSE(Exists(kInstalledDriver));
    EXPECT_FALSE(Exists(kInstalledLibrary));
    EXPECT_FALSE(Exists(kInstalledTool));
  }

  std::string output_;
};

// The version and the files are current, but the driver service went with
// an install interrupted before it was created anew: the whole install runs.
TEST_F(RepairTest, ACurrentComponentWithoutItsDriverServiceIsInstalledAgain) {
  std::string error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition(KOTA_DRIVER_SERVICE, &error)) << error;
  EXPECT_EQ(Install("GAMMA"), 1);
  EXPECT_EQ(output_, kFoundCurrent + "\nStopping: ALPHA\n\nStopping: BETA\nInstalling Driver (" + kDisplay +
                         ").\nStarting Service (" + kDisplay + ")\n\nStarting: ALPHA\n\nStarting: BETA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_TRUE(KeyExists(KOTA_REFERENCES_KEY "\\GAMMA"));
}

// A driver whose start failed (which fails no install) is started again by
// the next install, silently; nobody is notified and nothing is copied.
TEST_F(RepairTest, AStoppedDriverIsStartedSilentlyByTheNextInstall) {
  Captured([] { ASSERT_EQ(StopServiceTree(KOTA_DRIVER_SERVICE, KOTA_DRIVER_DISPLAY, 0), 1); });
  ASSERT_EQ(DriverState(), SERVICE_STOPPED);
  EXPECT_EQ(Install("GAMMA"), 1);
  EXPECT_EQ(output_, kFoundCurrent);
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_TRUE(RecordedLines().empty());

  // A driver that still does not start costs the install nothing.
  Captured([] { ASSERT_EQ(StopServiceTree(KOTA_DRIVER_SERVICE, KOTA_DRIVER_DISPLAY, 0), 1); });
  Fault("StartServiceA", KOTA_DRIVER_SERVICE, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("DELTA", 0), 1);
  EXPECT_EQ(output_, "");
  EXPECT_EQ(DriverState(), SERVICE_STOPPED);
}

// A driver service that cannot be asked about is no reason to reinstall.
TEST_F(RepairTest, AnUnanswerableDriverLeavesACurrentComponentAlone) {
  Fault("OpenServiceA", KOTA_DRIVER_SERVICE, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA"), 1);
  EXPECT_EQ(output_, kFoundCurrent);
  EXPECT_TRUE(RecordedLines().empty());
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
}

// A removal interrupted after it deleted the last reference left the
// component without any: removing that name again finishes the removal.
TEST_F(RepairTest, ARemovalFinishesAComponentLeftWithoutReferences) {
  DropAllReferences();
  EXPECT_EQ(Uninstall("ALPHA"), 1);
  EXPECT_EQ(output_, kStopAndRemove);
  EXPECT_TRUE(RecordedLines().empty());
  ExpectComponentGone();
}

// The silent removal of the legacy reference after every removal must never
// take away a component: only the caller's own name finishes one.
TEST_F(RepairTest, TheLegacyReferenceNeverFinishesAComponentLeftBehind) {
  DropAllReferences();
  EXPECT_EQ(Uninstall(LEGACY_REFERENCE_NAME, 0), 0);
  EXPECT_EQ(output_, "");
  EXPECT_TRUE(KeyExists(KOTA_VERSION_KEY));
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_TRUE(Exists(kInstalledTool));
}

// Only a registry that says the keys do not exist makes a component left
// behind: References that cannot be read keep the removal as it ever was.
TEST_F(RepairTest, UnreadableReferencesNeverMakeAComponentLeftBehind) {
  DropAllReferences();
  // The third open below References is that of the References key itself.
  Fault("RegOpenKeyExA", KOTA_REFERENCES_KEY, ERROR_ACCESS_DENIED, 3);
  EXPECT_EQ(Uninstall("ALPHA"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not delete referenced component - ALPHA\n");
  EXPECT_TRUE(KeyExists(KOTA_VERSION_KEY));
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
}

// A name that is not registered while another reference is, is refused as
// ever: the component is not left behind.
TEST_F(RepairTest, AnUnregisteredNameBesideAReferenceChangesNothing) {
  EXPECT_EQ(Uninstall("GHOST"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not delete referenced component - GHOST\n");
  EXPECT_TRUE(KeyExists(KOTA_REFERENCES_KEY "\\ALPHA"));
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
}

// A driver service that could not be deleted keeps the component's keys, so
// the next removal of the name finds the component and deletes the service.
TEST_F(RepairTest, ADriverServiceThatStaysKeepsTheKeysForTheNextRemoval) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  Fault("DeleteService", KOTA_DRIVER_SERVICE, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove);
  EXPECT_TRUE(KeyExists(KOTA_VERSION_KEY));
  EXPECT_EQ(DriverState(), SERVICE_STOPPED);
  EXPECT_FALSE(Exists(kInstalledTool));

  ASSERT_TRUE(emu::ClearFaultRules());
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove +
                         "\tERROR: Could not delete (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n"
                         "\tERROR: Could not delete (C:\\WINDOWS\\system32\\qelmot32.dll)\n"
                         "\tERROR: Could not delete (C:\\WINDOWS\\mevrid.exe)\n");
  ExpectComponentGone();
}

// An expansion of "UnInstallImage" that fails has deleted nothing: the
// removal fails and keeps the record, and the next one deletes the copy.
TEST_F(RepairTest, AFailedExpansionKeepsTheRecordOfTheToolsCopy) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  Fault("ExpandEnvironmentStringsA", "WINDOWS\\mevrid.exe", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove);
  EXPECT_TRUE(KeyExists(KOTA_VERSION_KEY));
  EXPECT_TRUE(Exists(kInstalledTool));
  EXPECT_FALSE(ServiceExists(KOTA_DRIVER_SERVICE));

  ASSERT_TRUE(emu::ClearFaultRules());
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_,
            "\tERROR: Could not open handle to service - vtrin\n"
            "\tERROR: Could not open handle to service - vtrin\n"
            "\tERROR: Could not delete (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n"
            "\tERROR: Could not delete (C:\\WINDOWS\\system32\\qelmot32.dll)\n");
  ExpectComponentGone();
}

}  // namespace
}  // namespace componenttest

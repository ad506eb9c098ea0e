#include "component/uninstall.h"

#include <cerrno>

#include "component/component_keys.h"
#include "component/install.h"
#include "services/driver_service.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

const std::string kDisplay = kDriverServiceDisplay;
const std::string kStopAndRemove =
    "Stopping Service (" + kDisplay + ")\nRemoving Service (" + kDisplay + ").\n";

using Lines = std::vector<std::string>;

// A machine after the installs of ALPHA and BETA (the driver running); each
// pre-processor records what it is told.
class UninstallTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    PutHelper("record_args", "C:\\Products\\Alpha\\pre.exe");
    PutHelper("record_args", "C:\\Products\\Beta\\pre.exe");
    std::string out = Captured([&] {
      ASSERT_EQ(InstallComponent("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA", 0), 1);
      ASSERT_EQ(InstallComponent("BETA", "C:\\Products\\Beta\\pre.exe BETA", 0), 1);
    });
    ASSERT_EQ(unlink(record_file_.c_str()) == 0 || errno == ENOENT, true);
  }

  Flag Uninstall(const char* name, Flag verbose = 1) {
    Flag result = 9;
    output_ = Captured([&] { result = UninstallComponent(name, verbose); });
    return result;
  }

  bool Exists(const char* windows_path) const { return testsupport::FileExists(Host(windows_path)); }
  // Nothing of the component left: keys, driver service, files.
  void ExpectComponentGone() {
    EXPECT_FALSE(KeyExists(kKotaComponentKey));
    EXPECT_FALSE(ServiceExists(kDriverServiceName));
    EXPECT_FALSE(Exists(kInstalledDriver));
    EXPECT_FALSE(Exists(kInstalledLibrary));
    EXPECT_FALSE(Exists(kInstalledTool));
  }
  // A failed last removal keeps the component key with the marker that lets
  // the same removal finish it; the References key is gone.
  void ExpectRemovalUnfinished(const std::string& name) {
    std::string marker;
    DWORD type = 0;
    EXPECT_TRUE(GetRegistryBytes(kKotaComponentKey, kChangeMarkerValue, &marker, &type));
    EXPECT_EQ(marker, "Remove " + name);
    EXPECT_FALSE(KeyExists(kKotaReferencesKey));
  }
  void ExpectComponentKept() {
    EXPECT_TRUE(KeyExists(kKotaVersionKey));
    emu::admin::ServiceInfo driver;
    ASSERT_TRUE(ServiceExists(kDriverServiceName, &driver));
    EXPECT_EQ(driver.state, SERVICE_RUNNING);
    EXPECT_TRUE(Exists(kInstalledDriver));
    EXPECT_TRUE(Exists(kInstalledLibrary));
    EXPECT_TRUE(Exists(kInstalledTool));
  }

  std::string output_;
};

TEST_F(UninstallTest, WithoutAWindowsDirectoryNothingHappens) {
  setenv("SystemRoot", "", 1);
  EXPECT_EQ(Uninstall("ALPHA"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not determine %SystemRoot% directory.\n");
  EXPECT_EQ(Uninstall("ALPHA", 0), 0);
  EXPECT_EQ(output_, "");
  EXPECT_TRUE(RecordedLines().empty());
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\ALPHA"));
}

TEST_F(UninstallTest, RemovingOneOfTwoTouchesOnlyThatReference) {
  std::string before = machine_.Export(kKotaVersionKey);
  EXPECT_EQ(Uninstall("ALPHA"), 1);
  EXPECT_EQ(output_, "");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e"}));
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\ALPHA"));
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\BETA"));
  EXPECT_EQ(machine_.Export(kKotaVersionKey), before);
  ExpectComponentKept();
}

TEST_F(UninstallTest, RemovingTheLastTakesTheComponentAway) {
  ASSERT_EQ(Uninstall("ALPHA", 0), 1);
  EXPECT_EQ(Uninstall("BETA"), 1);
  EXPECT_EQ(output_, kStopAndRemove);
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e -q", "BETA -e"}));
  ExpectComponentGone();
  EXPECT_TRUE(PendingRenames().empty());
}

TEST_F(UninstallTest, AQuietRemovalPrintsNothing) {
  ASSERT_EQ(Uninstall("ALPHA", 0), 1);
  EXPECT_EQ(Uninstall("BETA", 0), 1);
  EXPECT_EQ(output_, "");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e -q", "BETA -e -q"}));
  ExpectComponentGone();
}

TEST_F(UninstallTest, AnUnknownNameIsReportedAndRunsNothing) {
  EXPECT_EQ(Uninstall("GHOST"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not delete referenced component - GHOST\n");
  EXPECT_TRUE(RecordedLines().empty());
  ExpectComponentKept();

  std::string too_long(205, 'A');
  EXPECT_EQ(Uninstall(too_long.c_str()), 0);
  EXPECT_EQ(output_, "\tERROR: Could not delete referenced component - " + too_long + "\n");
  EXPECT_TRUE(RecordedLines().empty());
}

// The References key unreadable after the deletion: the reference is gone
// but the component stays, since nobody can tell whether others use it.
TEST_F(UninstallTest, ReferencesThatCannotBeCountedKeepTheComponent) {
  // The first open is the notification's own subkey, the second the walk.
  Fault("RegOpenKeyExA", kKotaReferencesKey, ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ(Uninstall("ALPHA"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not locate KOTA components.\n");
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\ALPHA"));
  ExpectComponentKept();

  Fault("RegEnumKeyExA", "", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not locate KOTA components.\n");
  EXPECT_TRUE(KeyExists(kKotaReferencesKey));
  ExpectComponentKept();
}

TEST_F(UninstallTest, MissingPiecesFailTheirStepsButEveryStepRuns) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  std::string error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
  ASSERT_EQ(unlink(Host(kInstalledLibrary).c_str()), 0);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_,
            "\tERROR: Could not open handle to service - vtrin\n"
            "\tERROR: Could not open handle to service - vtrin\n"
            "\tERROR: Could not delete (C:\\WINDOWS\\system32\\qelmot32.dll)\n");
  // The pieces were gone already: nothing is left to finish, the keys go.
  ExpectComponentGone();
}

// The tool's copy gone already fails its deletion and the removal, yet
// leaves nothing to finish: the keys go.
TEST_F(UninstallTest, AMissingUninstallerFailsTheRemovalButLeavesNothingToFinish) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  ASSERT_EQ(unlink(Host(kInstalledTool).c_str()), 0);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove + "\tERROR: Could not delete (C:\\WINDOWS\\mevrid.exe)\n");
  ExpectComponentGone();
}

// A version key that cannot be opened fails the removal: the keys stay,
// marked, and of the files only the tool's copy, which it records, stays.
TEST_F(UninstallTest, AnUnopenableVersionKeyKeepsOnlyTheToolsCopy) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  Fault("RegOpenKeyExA", "CurrentVersion", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove);
  ExpectRemovalUnfinished("BETA");
  EXPECT_FALSE(ServiceExists(kDriverServiceName));
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_TRUE(Exists(kInstalledTool));
  EXPECT_TRUE(PendingRenames().empty());
}

// A failed expansion of "UnInstallImage" deletes nothing and does not count:
// the result stays 1, and the keys stay, marked, so that the same removal
// again deletes the copy and ends it.
TEST_F(UninstallTest, AFailedExpansionKeepsTheToolAndTheKeysForTheSameRemoval) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  Fault("ExpandEnvironmentStringsA", "WINDOWS\\mevrid.exe", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(Uninstall("BETA"), 1);
  EXPECT_EQ(output_, kStopAndRemove);
  ExpectRemovalUnfinished("BETA");
  EXPECT_FALSE(ServiceExists(kDriverServiceName));
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_TRUE(Exists(kInstalledTool));
  EXPECT_EQ(Uninstall("BETA"), 1);
  EXPECT_EQ(output_, "");
  ExpectComponentGone();
}

// A component left with no reference at all (a removal interrupted after the
// deletion of the last one) is not taken away by removing a name that is not
// registered: the name is refused and nothing else is touched.
TEST_F(UninstallTest, AnUnknownNameLeavesAComponentWithoutReferencesAlone) {
  ASSERT_EQ(emu::admin::DeleteKeyTree(kKotaReferencesKey), emu::admin::Removal::kDone);
  std::string before = machine_.Export(kKotaComponentKey);
  EXPECT_EQ(Uninstall("ALPHA"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not delete referenced component - ALPHA\n");
  EXPECT_TRUE(RecordedLines().empty());
  EXPECT_EQ(machine_.Export(kKotaComponentKey), before);
  ExpectComponentKept();
}

// The driver service that could not be deleted fails the removal: the keys
// stay, marked, and the same removal again deletes the service and ends it.
TEST_F(UninstallTest, ADriverServiceThatStaysIsRemovedByTheSameRemovalAgain) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  Fault("DeleteService", kDriverServiceName, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove);
  emu::admin::ServiceInfo driver;
  ASSERT_TRUE(ServiceExists(kDriverServiceName, &driver));
  EXPECT_EQ(driver.state, SERVICE_STOPPED);
  ExpectRemovalUnfinished("BETA");
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledTool));
  EXPECT_EQ(Uninstall("BETA"), 1);
  EXPECT_EQ(output_, kStopAndRemove);
  ExpectComponentGone();
  // Only the first removal told BETA: the second found its reference gone.
  EXPECT_EQ(RecordedLines(), (std::vector<std::string>{"ALPHA -e", "BETA -e"}));
}

TEST_F(UninstallTest, WithoutUnInstallImageTheVersionAndComponentKeysStay) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  ASSERT_EQ(emu::admin::DeleteValue(kKotaVersionKey, "UnInstallImage"), emu::admin::Removal::kDone);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove);
  EXPECT_FALSE(KeyExists(kKotaReferencesKey));
  EXPECT_TRUE(KeyExists(kKotaVersionKey));
  EXPECT_FALSE(ServiceExists(kDriverServiceName));
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_TRUE(Exists(kInstalledTool));
}

TEST_F(UninstallTest, TheRecordedUninstallerIsTheFileDeleted) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  PutFile(Host("C:\\Tools\\kota.exe"), "recorded", 0);
  SetRegistryBytes(kKotaVersionKey, "UnInstallImage", REG_EXPAND_SZ, "%SystemRoot%\\..\\Tools\\kota.exe");
  EXPECT_EQ(Uninstall("BETA"), 1);
  EXPECT_FALSE(Exists("C:\\Tools\\kota.exe"));
  EXPECT_TRUE(Exists(kInstalledTool));
  EXPECT_FALSE(KeyExists(kKotaComponentKey));
}

// An expansion that does not fit deletes nothing and costs nothing.
TEST_F(UninstallTest, AnUninstallerTooLongToExpandIsLeftAlone) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  setenv("KOTA_TEST_LONG", ("C:\\" + std::string(250, 'm')).c_str(), 1);
  SetRegistryBytes(kKotaVersionKey, "UnInstallImage", REG_EXPAND_SZ, "%KOTA_TEST_LONG%\\mevrid.exe");
  // Cut to 259 characters the path would name this file.
  std::string cut = ("C:\\" + std::string(250, 'm') + "\\mevrid.exe").substr(0, 259);
  PutFile(Host(cut), "cut", 0);
  EXPECT_EQ(Uninstall("BETA"), 1);
  unsetenv("KOTA_TEST_LONG");
  EXPECT_TRUE(testsupport::FileExists(Host(cut)));
  EXPECT_EQ(output_, kStopAndRemove);
  EXPECT_TRUE(Exists(kInstalledTool));
  EXPECT_FALSE(KeyExists(kKotaComponentKey));
}

// A driver that refuses to stop: the removal goes on, its file is set aside
// for the next restart, and the result tells of the failure.
TEST_F(UninstallTest, ADriverInUseIsSetAsideAndTheRemovalFails) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  emu::admin::ServiceSpec spec;
  spec.name = kDriverServiceName;
  spec.driver = true;
  spec.image = "System32\\drivers\\vtrin.sys";
  spec.state = SERVICE_RUNNING;
  spec.refuse_stop = ERROR_INVALID_SERVICE_CONTROL;
  std::string error;
  ASSERT_TRUE(emu::admin::DefineService(spec, &error)) << error;

  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, "Stopping Service (" + kDisplay + ")\nRemoving Service (" + kDisplay + ").\n");
  EXPECT_FALSE(Exists(kInstalledDriver));
  auto pending = PendingRenames();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].first.rfind("\\??\\C:\\s", 0), 0u);
  EXPECT_EQ(testsupport::ReadFile(Host(pending[0].first.substr(4))),
            testsupport::ReadFile(Release("nt_node/vtrin.sys")));
  // The restart takes the service marked for deletion and the driver set
  // aside: nothing is left to finish, the keys go.
  EXPECT_FALSE(KeyExists(kKotaComponentKey));
}

TEST_F(UninstallTest, AComponentKeyThatCannotBeDeletedDoesNotCount) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  Fault("RegDeleteKeyA", "CurrentVersion", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Uninstall("BETA"), 1);
  EXPECT_TRUE(KeyExists(kKotaVersionKey));
  EXPECT_TRUE(KeyExists(kKotaComponentKey));
  EXPECT_FALSE(KeyExists(kKotaReferencesKey));
}

TEST_F(UninstallTest, AWindowsDirectoryTooLongDeletesNothingUnderACutName) {
  ASSERT_EQ(Uninstall("ALPHA"), 1);
  std::string windows = "C:\\" + std::string(240, 'w');
  std::string driver = windows + "\\system32\\drivers\\vtrin.sys";
  std::string library = windows + "\\system32\\qelmot32.dll";
  PutFile(Host(driver.substr(0, 259)), "keep", 0);
  setenv("SystemRoot", windows.c_str(), 1);
  EXPECT_EQ(Uninstall("BETA"), 0);
  EXPECT_EQ(output_, kStopAndRemove + "\tERROR: Could not delete (" + driver + ")\n" +
                         "\tERROR: Could not delete (" + library + ")\n");
  EXPECT_EQ(testsupport::ReadFile(Host(driver.substr(0, 259))), "keep");
}

}  // namespace
}  // namespace componenttest

#include "component/install.h"

#include <cerrno>
#include <functional>

#include "component/change_marker.h"
#include "component/component_keys.h"
#include "component/install_undo.h"
#include "component/kept_files.h"
#include "component/references.h"
#include "component/uninstall.h"
#include "services/driver_service.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

constexpr time_t kOld = 1000000000;
constexpr time_t kNew = 1100000000;
const std::string kDisplay = kDriverServiceDisplay;
const std::string kInstallingDriver = "Installing Driver (" + kDisplay + ").\n";
const std::string kStartingService = "Starting Service (" + kDisplay + ")";

using Lines = std::vector<std::string>;

// Machines for the install: clean, or with an older component (version 3.9,
// old files, the driver running) used by two products whose pre-processors
// record what they are told.
class InstallTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    PutHelper("record_args", "C:\\Products\\Alpha\\pre.exe");
    PutHelper("record_args", "C:\\Products\\Beta\\pre.exe");
    SetReleaseTimes(kNew);
  }

  void PutOlderComponent() {
    PutInstalledFiles(kOld);
    SetRegistryBytes(kKotaVersionKey, "Version", REG_SZ, "3.9");
    SetRegistryBytes(kKotaVersionKey, "UnInstallImage", REG_EXPAND_SZ, kInstalledTool);
    ASSERT_EQ(RegisterReference("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA", 0), 1);
    ASSERT_EQ(RegisterReference("BETA", "C:\\Products\\Beta\\pre.exe BETA", 0), 1);
    DefineDriver(kDriverServiceName, "System32\\drivers\\vtrin.sys", SERVICE_RUNNING);
  }

  Flag Install(const char* name, const char* image, Flag verbose = 1, InstallUndo* undo = nullptr) {
    Flag result = 9;
    output_ = Captured([&] { result = InstallComponent(name, image, verbose, nullptr, undo); });
    return result;
  }
  // The install with an undo, as MEVRID_ROLLBACK=on runs it; undo_ tells
  // what became of it.
  Flag InstallAllOrNothing(const char* name, const char* image, Flag verbose = 1) {
    undo_ = InstallUndo();
    return Install(name, image, verbose, &undo_);
  }
  bool AnyKeptAside() const {
    for (const char* path : {kInstalledTool, kInstalledLibrary, kInstalledDriver})
      if (testsupport::FileExists(Host(KeptAsidePathOf(path)))) return true;
    return false;
  }
  // The older component exactly as PutOlderComponent leaves it.
  void ExpectOlderComponent() {
    EXPECT_EQ(Installed(kInstalledTool), "old tool");
    EXPECT_EQ(Installed(kInstalledLibrary), "old library");
    EXPECT_EQ(Installed(kInstalledDriver), "old driver");
    for (const char* path : {kInstalledTool, kInstalledLibrary, kInstalledDriver})
      EXPECT_EQ(WriteTime(Host(path)), kOld) << path;
    EXPECT_FALSE(AnyKeptAside());
    EXPECT_EQ(Value(kKotaVersionKey, "Version"), "3.9");
    EXPECT_EQ(Value(kKotaVersionKey, "UnInstallImage"), kInstalledTool);
    emu::admin::ServiceInfo driver;
    ASSERT_TRUE(ServiceExists(kDriverServiceName, &driver));
    EXPECT_EQ(driver.state, SERVICE_RUNNING);
    EXPECT_FALSE(driver.marked_for_delete);
    // Its own definition, not the one an install creates.
    EXPECT_EQ(driver.start_type, SERVICE_DEMAND_START);
    EXPECT_EQ(driver.group, "");
    EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));
    EXPECT_TRUE(ReadChangeMarker().Empty());
  }

  std::string Installed(const char* windows_path) const { return testsupport::ReadFile(Host(windows_path)); }
  std::string ReleaseFile(const char* relative) const { return testsupport::ReadFile(Release(relative)); }
  bool AllReplaced() const {
    return Installed(kInstalledTool) == ReleaseFile("mevrid.exe") &&
           Installed(kInstalledLibrary) == ReleaseFile("nt_node/qelmot32.dll") &&
           Installed(kInstalledDriver) == ReleaseFile("nt_node/vtrin.sys");
  }
  std::string Value(const char* key, const char* value) {
    std::string bytes;
    return GetRegistryBytes(key, value, &bytes) ? bytes : "<absent>";
  }
  uint32_t DriverState() {
    emu::admin::ServiceInfo info;
    return ServiceExists(kDriverServiceName, &info) ? info.state : 0;
  }

  std::string output_;
  InstallUndo undo_;
};

TEST_F(InstallTest, WithoutAWindowsDirectoryNothingHappens) {
  setenv("SystemRoot", "", 1);
  EXPECT_EQ(Install("ALPHA", "C:\\a.exe"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not determine %SystemRoot% directory.\n");
  EXPECT_EQ(Install("ALPHA", "C:\\a.exe", 0), 0);
  EXPECT_EQ(output_, "");
  EXPECT_FALSE(KeyExists(kKotaComponentKey));
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledTool)));
  EXPECT_FALSE(ServiceExists(kDriverServiceName));
}

TEST_F(InstallTest, AFirstInstallCopiesRecordsCreatesStartsAndRegisters) {
  EXPECT_EQ(Install("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA"), 1);
  EXPECT_EQ(output_, kInstallingDriver + kStartingService + "\n");
  EXPECT_TRUE(AllReplaced());
  EXPECT_EQ(WriteTime(Host(kInstalledDriver)), kNew);

  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(GetRegistryBytes(kKotaVersionKey, "Version", &bytes, &type));
  EXPECT_EQ(bytes, "4.0");
  EXPECT_EQ(type, REG_SZ);
  ASSERT_TRUE(GetRegistryBytes(kKotaVersionKey, "UnInstallImage", &bytes, &type));
  EXPECT_EQ(bytes, "C:\\WINDOWS\\mevrid.exe");
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(KeyClass(kKotaVersionKey), "REG_SZ");
  EXPECT_EQ(Value((std::string(kKotaReferencesKey) + "\\ALPHA").c_str(), "PreProcImage"), "C:\\Products\\Alpha\\pre.exe ALPHA");

  emu::admin::ServiceInfo driver;
  ASSERT_TRUE(ServiceExists(kDriverServiceName, &driver));
  EXPECT_EQ(driver.type, SERVICE_KERNEL_DRIVER);
  EXPECT_EQ(driver.start_type, SERVICE_AUTO_START);
  EXPECT_EQ(driver.state, SERVICE_RUNNING);
  EXPECT_EQ(driver.image, "System32\\drivers\\vtrin.sys");
  // A reference new in this run is registered after the "-b" walk.
  EXPECT_TRUE(RecordedLines().empty());
}

TEST_F(InstallTest, ASecondInstallOnlyRegisters) {
  ASSERT_EQ(Install("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA"), 1);
  std::string before = machine_.Export(kKotaVersionKey);
  EXPECT_EQ(Install("BETA", "C:\\Products\\Beta\\pre.exe BETA"), 1);
  EXPECT_EQ(output_, "Found KOTA Version: 4.0 installed.\n");
  EXPECT_TRUE(RecordedLines().empty());
  EXPECT_EQ(machine_.Export(kKotaVersionKey), before);
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_EQ(Value((std::string(kKotaReferencesKey) + "\\BETA").c_str(), "PreProcImage"), "C:\\Products\\Beta\\pre.exe BETA");

  // Its result is the registration's.
  Fault("RegCreateKeyExA", "GAMMA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 0);
  EXPECT_EQ(output_, "Found KOTA Version: 4.0 installed.\n"
                     "\tERROR: Could not install referenced component - GAMMA\n");
}

// Every product is told "-e" before the driver stops and the files change,
// and "-b" once the new driver runs; the caller's reference comes last.
TEST_F(InstallTest, AnUpgradeRunsItsStepsInOrder) {
  PutOlderComponent();
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 1);
  emu::SetCallTrace(nullptr);
  EXPECT_EQ(output_, "Found KOTA Version: 3.9 installed.\n"
                     "\nStopping: ALPHA\n\nStopping: BETA\n" +
                         kInstallingDriver + kStartingService + "\n" +
                         "\nStarting: ALPHA\n\nStarting: BETA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
  EXPECT_TRUE(AllReplaced());
  EXPECT_EQ(Value(kKotaVersionKey, "Version"), "4.0");
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_EQ(Value((std::string(kKotaReferencesKey) + "\\GAMMA").c_str(), "PreProcImage"), "C:\\g.exe");

  // The milestones of the run, each after the one before.
  const std::vector<std::string> milestones = {
      "CreateProcessA C:\\Products\\Beta\\pre.exe BETA -e",
      "ControlService vtrin",
      "CopyFileA mevrid.exe",
      "CopyFileA nt_node\\qelmot32.dll",
      "CopyFileA nt_node\\vtrin.sys",
      std::string("RegSetValueExA ") + kKotaVersionKey + "\\Version",
      std::string("RegSetValueExA ") + kKotaVersionKey + "\\UnInstallImage",
      "DeleteService vtrin",
      "CreateServiceA vtrin",
      "StartServiceA vtrin",
      "CreateProcessA C:\\Products\\Alpha\\pre.exe ALPHA -b",
      std::string("RegCreateKeyExA ") + kKotaReferencesKey + "\\GAMMA",
  };
  size_t at = 0;
  for (const std::string& milestone : milestones) {
    while (at < trace.size() && trace[at].rfind(milestone, 0) != 0) ++at;
    ASSERT_LT(at, trace.size()) << "missing or out of order: " << milestone;
  }
}

TEST_F(InstallTest, AQuietInstallPrintsNothing) {
  PutOlderComponent();
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe", 0), 1);
  EXPECT_EQ(output_, "");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e -q", "BETA -e -q", "ALPHA -b -q", "BETA -b -q"}));
}

// A failed copy: the files before it stay replaced, the driver is started
// again silently, nobody is told "-b" and the caller is not registered.
TEST_F(InstallTest, AFailedCopyRestartsTheDriverAndStops) {
  struct Case {
    const char* release;
    const char* target;
    int replaced;
  };
  for (const Case& c : {Case{"mevrid.exe", kInstalledTool, 0}, Case{"qelmot32.dll", kInstalledLibrary, 1},
                        Case{"vtrin.sys", kInstalledDriver, 2}}) {
    SCOPED_TRACE(c.release);
    PutOlderComponent();
    ASSERT_EQ(unlink(record_file_.c_str()) == 0 || errno == ENOENT, true);
    Fault("CopyFileA", c.release, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 0);
    EXPECT_EQ(output_, std::string("Found KOTA Version: 3.9 installed.\n\nStopping: ALPHA\n\nStopping: BETA\n") +
                           "\tERROR: Could not copy to (" + c.target + ")\n");
    EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e"}));
    EXPECT_EQ(Installed(kInstalledTool) == ReleaseFile("mevrid.exe"), c.replaced > 0);
    EXPECT_EQ(Installed(kInstalledLibrary) == ReleaseFile("nt_node/qelmot32.dll"), c.replaced > 1);
    EXPECT_EQ(Installed(kInstalledDriver), "old driver");
    EXPECT_EQ(Value(kKotaVersionKey, "Version"), "3.9");
    EXPECT_EQ(DriverState(), SERVICE_RUNNING);
    EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));
    ASSERT_TRUE(emu::ClearFaultRules());
  }
}

TEST_F(InstallTest, AReleaseWithoutNtNodeFailsAtTheLibrary) {
  testsupport::RemoveTree(Release("nt_node"));
  EXPECT_EQ(Install("ALPHA", "C:\\a.exe"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\qelmot32.dll)\n");
  EXPECT_EQ(Installed(kInstalledTool), ReleaseFile("mevrid.exe"));
  EXPECT_FALSE(KeyExists(kKotaComponentKey));
}

// The version key's writes fail silently: the files are replaced, the driver
// stays stopped with its old definition, nobody is told "-b".
TEST_F(InstallTest, AVersionKeyThatCannotBeWrittenEndsTheInstallSilently) {
  struct Case {
    const char* operation;
    const char* match;
    const char* version;
    const char* uninstaller;
  };
  for (const Case& c : {Case{"RegCreateKeyExA", "CurrentVersion", "3.9", "C:\\WINDOWS\\mevrid.exe"},
                        Case{"RegSetValueExA", "\\Version", "3.9", "C:\\WINDOWS\\mevrid.exe"},
                        Case{"RegSetValueExA", "UnInstallImage", "4.0", "<absent>"}}) {
    SCOPED_TRACE(std::string(c.operation) + " " + c.match);
    PutOlderComponent();
    if (std::string(c.uninstaller) == "<absent>") {
      ASSERT_EQ(emu::admin::DeleteValue(kKotaVersionKey, "UnInstallImage"), emu::admin::Removal::kDone);
    }
    ASSERT_EQ(unlink(record_file_.c_str()) == 0 || errno == ENOENT, true);
    Fault(c.operation, c.match, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 0);
    EXPECT_EQ(output_, "Found KOTA Version: 3.9 installed.\n\nStopping: ALPHA\n\nStopping: BETA\n");
    EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e"}));
    EXPECT_TRUE(AllReplaced());
    EXPECT_EQ(Value(kKotaVersionKey, "Version"), c.version);
    EXPECT_EQ(Value(kKotaVersionKey, "UnInstallImage"), c.uninstaller);
    emu::admin::ServiceInfo driver;
    ASSERT_TRUE(ServiceExists(kDriverServiceName, &driver));
    EXPECT_EQ(driver.state, SERVICE_STOPPED);
    EXPECT_FALSE(driver.marked_for_delete);
    EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));
    ASSERT_TRUE(emu::ClearFaultRules());
  }
}

TEST_F(InstallTest, AnOldDriverServiceThatWasNotRemovedBlocksTheNewOne) {
  PutOlderComponent();
  Fault("DeleteService", kDriverServiceName, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 0);
  EXPECT_EQ(output_, "Found KOTA Version: 3.9 installed.\n\nStopping: ALPHA\n\nStopping: BETA\n" + kInstallingDriver);
  EXPECT_TRUE(AllReplaced());
  EXPECT_EQ(Value(kKotaVersionKey, "Version"), "4.0");
  EXPECT_EQ(DriverState(), SERVICE_STOPPED);
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e"}));
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));
}

TEST_F(InstallTest, ADriverServiceThatCannotBeCreatedEndsTheInstall) {
  PutOlderComponent();
  Fault("CreateServiceA", kDriverServiceName, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 0);
  EXPECT_EQ(output_, "Found KOTA Version: 3.9 installed.\n\nStopping: ALPHA\n\nStopping: BETA\n" + kInstallingDriver +
                         "\tERROR: Could not open handle to driver - vtrin\n");
  EXPECT_FALSE(ServiceExists(kDriverServiceName));
  EXPECT_EQ(Value(kKotaVersionKey, "UnInstallImage"), "C:\\WINDOWS\\mevrid.exe");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e"}));
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));
}

TEST_F(InstallTest, ADriverThatDoesNotStartStillCompletesTheInstall) {
  PutOlderComponent();
  Fault("StartServiceA", kDriverServiceName, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 1);
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
  EXPECT_EQ(DriverState(), SERVICE_STOPPED);
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"));

  // With everything done, a failed registration is the only failure.
  ASSERT_TRUE(emu::ClearFaultRules());
  SetRegistryBytes(kKotaVersionKey, "Version", REG_SZ, "3.0");
  Fault("RegSetValueExA", "PreProcImage", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("DELTA", "C:\\d.exe"), 0);
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_EQ(Value((std::string(kKotaReferencesKey) + "\\DELTA").c_str(), "PreProcImage"), "<absent>");
}

// A Windows directory so long that the installed paths exceed 259
// characters: the first copy fails naming the whole path, nothing is written
// under a cut name.
TEST_F(InstallTest, AWindowsDirectoryTooLongFailsTheFirstCopy) {
  std::string windows = "C:\\" + std::string(250, 'w');
  setenv("SystemRoot", windows.c_str(), 1);
  EXPECT_EQ(Install("ALPHA", "C:\\a.exe"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not copy to (" + windows + "\\mevrid.exe)\n");
  EXPECT_FALSE(testsupport::FileExists(Host((windows + "\\mevrid.exe").substr(0, 259))));
  EXPECT_FALSE(KeyExists(kKotaComponentKey));
}

TEST_F(InstallTest, ANameTooLongForItsKeyIsRefusedBeforeAnythingChanges) {
  PutOlderComponent();
  std::string name(205, 'N');
  EXPECT_EQ(Install(name.c_str(), "C:\\n.exe"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not install referenced component - " + name + "\n");
  EXPECT_TRUE(RecordedLines().empty());
  EXPECT_EQ(Installed(kInstalledTool), "old tool");
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
}

// With an undo, a failure at any step up to the new driver's start puts the
// older component back (files and times, version values, the driver's own
// definition, running) and tells "-b" after "-e", in the same order; the
// failing step's own lines are those of the install without an undo.
TEST_F(InstallTest, WithAnUndoAFailedStepPutsTheOlderComponentBack) {
  const std::string told = "Found KOTA Version: 3.9 installed.\n\nStopping: ALPHA\n\nStopping: BETA\n";
  struct Case {
    const char* operation;
    const char* match;
    DWORD error;
    std::string lines;  // the failing step's
  };
  for (const Case& c : {
           Case{"MoveFileExA", "mevrid.exe", ERROR_SHARING_VIOLATION,
                "\tERROR: Could not copy to (C:\\WINDOWS\\mevrid.exe)\n"},
           Case{"CopyFileA", "qelmot32.dll", ERROR_SHARING_VIOLATION,
                "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\qelmot32.dll)\n"},
           Case{"CopyFileA", "vtrin.sys", ERROR_DISK_FULL,
                "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n"},
           Case{"RegSetValueExA", "UnInstallImage", ERROR_ACCESS_DENIED, ""},
           Case{"CreateServiceA", kDriverServiceName, ERROR_ACCESS_DENIED,
                kInstallingDriver + "\tERROR: Could not open handle to driver - vtrin\n"},
           Case{"StartServiceA", kDriverServiceName, 577 /* ERROR_INVALID_IMAGE_HASH */,
                kInstallingDriver + kStartingService + "\n"},
       }) {
    SCOPED_TRACE(std::string(c.operation) + " " + c.match);
    PutOlderComponent();
    ASSERT_EQ(unlink(record_file_.c_str()) == 0 || errno == ENOENT, true);
    Fault(c.operation, c.match, c.error);
    EXPECT_EQ(InstallAllOrNothing("GAMMA", "C:\\g.exe"), 0);
    EXPECT_EQ(output_, told + c.lines + "\nStarting: ALPHA\n\nStarting: BETA\n");
    EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
    EXPECT_TRUE(undo_.RolledBack());
    ExpectOlderComponent();
    ASSERT_TRUE(emu::ClearFaultRules());
    ASSERT_EQ(emu::admin::DeleteKeyTree(kKotaComponentKey), emu::admin::Removal::kDone);
    std::string error;
    ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
  }
}

// A first install that fails leaves nothing behind: no file, no key (the
// component key the marker needed goes again), no driver service.
TEST_F(InstallTest, WithAnUndoAFailedFirstInstallLeavesNothing) {
  Fault("CopyFileA", "vtrin.sys", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(InstallAllOrNothing("ALPHA", "C:\\a.exe"), 0);
  EXPECT_EQ(output_, "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n");
  EXPECT_TRUE(undo_.RolledBack());
  for (const char* path : {kInstalledTool, kInstalledLibrary, kInstalledDriver}) {
    EXPECT_FALSE(testsupport::FileExists(Host(path))) << path;
    EXPECT_FALSE(testsupport::FileExists(Host(KeptAsidePathOf(path)))) << path;
  }
  EXPECT_FALSE(KeyExists(kKotaComponentKey));
  EXPECT_FALSE(ServiceExists(kDriverServiceName));
}

// A new driver that does not start fails the install only where the old
// one ran; a failure after the products were told "-b" (the registration)
// keeps the new component, and its old files go.
TEST_F(InstallTest, WithAnUndoOnlyFailuresBeforeThePointOfNoReturnRollBack) {
  PutOlderComponent();
  ASSERT_EQ(emu::admin::DeleteKeyTree(std::string("SYSTEM\\CurrentControlSet\\Services\\") + kDriverServiceName),
            emu::admin::Removal::kDone);
  DefineDriver(kDriverServiceName, "System32\\drivers\\vtrin.sys", SERVICE_STOPPED);
  Fault("StartServiceA", kDriverServiceName, 1275 /* ERROR_DRIVER_BLOCKED */);
  EXPECT_EQ(InstallAllOrNothing("GAMMA", "C:\\g.exe"), 1);
  EXPECT_FALSE(undo_.RollBackAttempted());
  EXPECT_TRUE(AllReplaced());
  EXPECT_FALSE(AnyKeptAside());
  EXPECT_TRUE(ReadChangeMarker().Empty());

  ASSERT_TRUE(emu::ClearFaultRules());
  SetRegistryBytes(kKotaVersionKey, "Version", REG_SZ, "3.9");
  PutFile(Host(kInstalledLibrary), "old library", kOld);
  Fault("RegSetValueExA", "PreProcImage", ERROR_ACCESS_DENIED);
  EXPECT_EQ(InstallAllOrNothing("DELTA", "C:\\d.exe"), 0);
  EXPECT_FALSE(undo_.RollBackAttempted());
  EXPECT_TRUE(AllReplaced());
  EXPECT_EQ(Value(kKotaVersionKey, "Version"), "4.0");
  EXPECT_EQ(DriverState(), SERVICE_RUNNING);
  EXPECT_FALSE(AnyKeptAside());
  EXPECT_TRUE(ReadChangeMarker().Empty());
}

// The order with an undo: the driver and the keys saved and the marker
// written before any product is told "-e"; each file kept aside right before
// its copy; after a failure, the files back before any product is told "-b".
// Without an undo, none of these calls is made.
TEST_F(InstallTest, WithAnUndoTheStepsComeInOrder) {
  PutOlderComponent();
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  Fault("CreateServiceA", kDriverServiceName, ERROR_ACCESS_DENIED);
  EXPECT_EQ(InstallAllOrNothing("GAMMA", "C:\\g.exe"), 0);
  const std::string kept = ".mevrid-kept";
  const std::vector<std::string> milestones = {
      "QueryServiceConfigA vtrin",
      std::string("RegOpenKeyExA ") + kKotaVersionKey,
      std::string("RegSetValueExA ") + kKotaComponentKey,
      "CreateProcessA C:\\Products\\Alpha\\pre.exe ALPHA -e",
      "ControlService vtrin",
      std::string("MoveFileExA ") + kInstalledTool + " " + kInstalledTool + kept,
      "CopyFileA mevrid.exe",
      std::string("MoveFileExA ") + kInstalledLibrary + " " + kInstalledLibrary + kept,
      "CopyFileA nt_node\\qelmot32.dll",
      std::string("MoveFileExA ") + kInstalledDriver + " " + kInstalledDriver + kept,
      "CopyFileA nt_node\\vtrin.sys",
      std::string("RegSetValueExA ") + kKotaVersionKey,
      "CreateServiceA vtrin",
      std::string("MoveFileExA ") + kInstalledDriver + kept + " " + kInstalledDriver,
      std::string("MoveFileExA ") + kInstalledTool + kept + " " + kInstalledTool,
      std::string("RegSetValueExA ") + kKotaVersionKey,
      "CreateServiceA vtrin",
      "StartServiceA vtrin",
      "CreateProcessA C:\\Products\\Alpha\\pre.exe ALPHA -b",
      "CreateProcessA C:\\Products\\Beta\\pre.exe BETA -b",
  };
  size_t at = 0;
  for (const std::string& milestone : milestones) {
    while (at < trace.size() && trace[at].rfind(milestone, 0) != 0) ++at;
    ASSERT_LT(at, trace.size()) << "missing or out of order: " << milestone;
  }
  ExpectOlderComponent();

  // The same machine, the install without an undo.
  ASSERT_TRUE(emu::ClearFaultRules());
  trace.clear();
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 1);
  emu::SetCallTrace(nullptr);
  for (const std::string& call : trace)
    for (const char* added : {"QueryServiceConfigA", "MoveFileExA", "DeleteFileA"})
      EXPECT_NE(call.rfind(added, 0), 0u) << call;
}

// Old files that an interrupted run kept aside (the marker says so) outlive
// no successful install, with or without an undo; the entry goes with them.
TEST_F(InstallTest, KeptAsideFilesOfAnInterruptedRunGoWithTheNextSuccess) {
  for (bool with_undo : {true, false}) {
    SCOPED_TRACE(with_undo ? "with an undo" : "without");
    std::string error;
    if (ServiceExists(kDriverServiceName)) {
      ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
    }
    PutOlderComponent();
    SetRegistryBytes(kKotaComponentKey, kChangeMarkerValue, REG_SZ, "Install\\KeptAside");
    PutFile(Host(KeptAsidePathOf(kInstalledTool)), "original tool", kOld);
    PutFile(Host(KeptAsidePathOf(kInstalledDriver)), "original driver", kOld);
    EXPECT_EQ(with_undo ? InstallAllOrNothing("GAMMA", "C:\\g.exe") : Install("GAMMA", "C:\\g.exe"), 1);
    EXPECT_TRUE(AllReplaced());
    EXPECT_FALSE(AnyKeptAside());
    EXPECT_TRUE(ReadChangeMarker().Empty());
  }
}

// With an undo every product told "-e" is told "-b" before the old files
// go: the ones the walk could not tell are told by one walk more, and one
// still untold fails the run with the new component in place and "Install"
// kept, so the next run tells them all. Without an undo the "-b" walk's
// failures stay ignored.
TEST_F(InstallTest, WithAnUndoEveryProductToldEndIsToldBeginBeforeThePointOfNoReturn) {
  struct Case {
    const char* name;
    const char* operation;
    const char* match;
    int64_t nth;
    bool always;
    bool with_undo;
    Lines told;
  };
  // Told again in the order of "-e", or ALPHA never.
  const Lines kToldAgain = {"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"};
  const Lines kUntold = {"ALPHA -e", "BETA -e", "BETA -b"};
  for (const Case& c : {
           Case{"pre-processor not started once", "CreateProcessA", "ALPHA -b", 1, false, true, kToldAgain},
           Case{"image unreadable once", "RegQueryValueExA", "PreProcImage", 3, false, true, kToldAgain},
           Case{"walk broken off once", "RegEnumKeyExA", "References", 4, false, true, kToldAgain},
           Case{"reference passed over once", "RegOpenKeyExA", "References\\ALPHA", 2, false, true, kToldAgain},
           Case{"pre-processor never started", "CreateProcessA", "ALPHA -b", 1, true, true, kUntold},
           Case{"without an undo", "CreateProcessA", "ALPHA -b", 1, true, false, kUntold},
       }) {
    SCOPED_TRACE(c.name);
    PutOlderComponent();
    ASSERT_TRUE(testsupport::WriteFile(record_file_, ""));
    Fault(c.operation, c.match, ERROR_ACCESS_DENIED, c.nth, c.always);
    const Flag result = c.with_undo ? InstallAllOrNothing("GAMMA", "C:\\g.exe") : Install("GAMMA", "C:\\g.exe");
    ASSERT_TRUE(emu::ClearFaultRules());
    EXPECT_EQ(RecordedLines(), c.told);
    EXPECT_TRUE(AllReplaced());
    EXPECT_FALSE(undo_.RollBackAttempted());
    const bool untold = c.with_undo && c.told == kUntold;
    EXPECT_EQ(result, untold ? 0 : 1);
    EXPECT_EQ(KeyExists(std::string(kKotaReferencesKey) + "\\GAMMA"), !untold);
    EXPECT_EQ(ChangeMarkerText(ReadChangeMarker()), untold ? "Install\\KeptAside" : "");
    EXPECT_EQ(AnyKeptAside(), untold);
    if (untold) {
      // The next run finishes: every product told, the old files gone.
      ASSERT_TRUE(testsupport::WriteFile(record_file_, ""));
      EXPECT_EQ(InstallAllOrNothing("GAMMA", "C:\\g.exe"), 1);
      EXPECT_EQ(RecordedLines(), kToldAgain);
      EXPECT_TRUE(ReadChangeMarker().Empty());
      EXPECT_FALSE(AnyKeptAside());
    }
    ASSERT_EQ(emu::admin::DeleteKeyTree(kKotaComponentKey), emu::admin::Removal::kDone);
    std::string error;
    ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
  }
}

// A kept-aside file whose deletion is refused is left to the restart and
// "Discard" stays to name it; any later run deletes the kept-aside files the
// marker names with no install to put them back (a registration, a removal
// of the component) and takes the entry out. A machine whose marker names
// none sees no call for them.
TEST_F(InstallTest, KeptAsideLeftoversGoWithTheNextRun) {
  PutOlderComponent();
  SetRegistryBytes(kKotaComponentKey, kChangeMarkerValue, REG_SZ, "Install\\KeptAside");
  PutFile(Host(KeptAsidePathOf(kInstalledDriver)), "original driver", kOld);
  Fault("DeleteFileA", "vtrin.sys.mevrid-kept", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 1);
  EXPECT_EQ(ChangeMarkerText(ReadChangeMarker()), "Discard");
  ASSERT_EQ(PendingRenames().size(), 1u);
  ASSERT_TRUE(emu::ClearFaultRules());
  // GAMMA alone keeps the component, so its removal removes it.
  ASSERT_EQ(UninstallComponent("ALPHA", 0), 1);
  ASSERT_EQ(UninstallComponent("BETA", 0), 1);

  using Run = std::function<Flag()>;
  const Run registration = [this] { return Install("GAMMA", "C:\\g.exe"); };
  const Run removal = [] { return UninstallComponent("GAMMA", 0); };
  for (const char* marker : {"Discard", "KeptAside"}) {
    for (const Run& run : {registration, removal}) {
      SCOPED_TRACE(marker);
      if (!KeyExists(kKotaVersionKey)) {
        ASSERT_EQ(Install("GAMMA", "C:\\g.exe"), 1);
      }
      SetRegistryBytes(kKotaComponentKey, kChangeMarkerValue, REG_SZ, marker);
      PutFile(Host(KeptAsidePathOf(kInstalledDriver)), "left over", kOld);
      PutFile(Host(KeptAsidePathOf(kInstalledLibrary)), "left over", kOld);
      EXPECT_EQ(run(), 1);
      EXPECT_FALSE(AnyKeptAside());
      EXPECT_TRUE(ReadChangeMarker().Empty());
    }
  }
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  EXPECT_EQ(Install("GAMMA", "C:\\g.exe"), 1);
  EXPECT_EQ(Install("DELTA", "C:\\d.exe"), 1);
  EXPECT_EQ(UninstallComponent("DELTA", 0), 1);
  EXPECT_EQ(UninstallComponent("GAMMA", 0), 1);
  emu::SetCallTrace(nullptr);
  for (const std::string& call : trace) EXPECT_EQ(call.find(".mevrid-kept"), std::string::npos) << call;
}

}  // namespace
}  // namespace componenttest

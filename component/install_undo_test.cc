#include "component/install_undo.h"

#include "component/change_marker.h"
#include "component/component_keys.h"
#include "component/kept_files.h"
#include "services/driver_service.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

constexpr time_t kOld = 1000000000;

class InstallUndoTest : public ComponentTest {
 protected:
  // What an install does first: the driver and the keys saved, the marker
  // written.
  void Begin() {
    ASSERT_TRUE(undo_.CaptureDriverService());
    ASSERT_TRUE(undo_.CaptureVersionKey());
    ASSERT_TRUE(undo_.Mark(true, {kInstalledTool, kInstalledLibrary, kInstalledDriver}));
  }
  std::string Kept(const char* path) const { return Host(KeptAsidePathOf(path)); }
  std::string Value(const char* value) {
    std::string bytes;
    DWORD type = 0;
    return GetRegistryBytes(kKotaVersionKey, value, &bytes, &type) ? std::to_string(type) + ":" + bytes : "<absent>";
  }

  InstallUndo undo_;
};

// The old file is renamed aside and comes back with its time and its
// read-only attribute; a file that was not there is deleted again.
TEST_F(InstallUndoTest, AKeptFileComesBackAndAFileThatWasAbsentGoes) {
  PutFile(Host(kInstalledLibrary), "old library", kOld);
  MakeReadOnly(Host(kInstalledLibrary));
  Begin();
  ASSERT_TRUE(undo_.KeepAside(kInstalledLibrary));
  ASSERT_TRUE(undo_.KeepAside(kInstalledDriver));
  EXPECT_EQ(KeptAsidePathOf(kInstalledLibrary), std::string(kInstalledLibrary) + ".mevrid-kept");
  EXPECT_EQ(testsupport::ReadFile(Kept(kInstalledLibrary)), "old library");
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledLibrary)));
  EXPECT_FALSE(testsupport::FileExists(Kept(kInstalledDriver)));
  for (const char* path : {kInstalledLibrary, kInstalledDriver}) {
    PutFile(Host(path), "new", kOld + 5);
    MakeReadOnly(Host(path));
  }

  EXPECT_TRUE(undo_.RollBack());
  EXPECT_TRUE(undo_.RolledBack());
  EXPECT_EQ(testsupport::ReadFile(Host(kInstalledLibrary)), "old library");
  EXPECT_EQ(WriteTime(Host(kInstalledLibrary)), kOld);
  EXPECT_TRUE(IsReadOnly(Host(kInstalledLibrary)));
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledDriver)));
  EXPECT_FALSE(testsupport::FileExists(Kept(kInstalledLibrary)));
}

// A kept-aside file already there is the original when the marker says an
// interrupted install kept it ("KeptAside" with "Install"): adopted, it is
// what comes back. Otherwise it is an old copy nothing accounts for, or a
// leftover the marker names ("Discard", or no install to put it back, which
// goes before anything is kept): it goes, and the file found at the path is
// the one kept.
TEST_F(InstallUndoTest, AKeptFileOfAnInterruptedRunIsAdoptedOnlyWhenTheMarkerSaysSo) {
  struct Case {
    const char* marker;
    bool adopted;   // else the file at the path is kept
    bool leftover;  // named a leftover: gone before anything is kept
  };
  for (const Case& c : {Case{"Install\\KeptAside", true, false}, Case{"Install", false, false},
                        Case{"Install\\Discard", false, true}, Case{"KeptAside", false, true},
                        Case{"Discard", false, true}}) {
    SCOPED_TRACE(c.marker);
    const bool marked = c.adopted;
    undo_ = InstallUndo();
    SetRegistryBytes(kKotaComponentKey, kChangeMarkerValue, REG_SZ, c.marker);
    PutFile(Kept(kInstalledLibrary), "original", kOld);
    PutFile(Host(kInstalledLibrary), "half-way", kOld + 9);
    Begin();
    EXPECT_EQ(testsupport::FileExists(Kept(kInstalledLibrary)), !c.leftover);
    EXPECT_FALSE(ReadChangeMarker().Discard);
    ASSERT_TRUE(undo_.KeepAside(kInstalledLibrary));
    EXPECT_EQ(testsupport::ReadFile(Kept(kInstalledLibrary)), marked ? "original" : "half-way");
    PutFile(Host(kInstalledLibrary), "new", kOld + 5);
    ASSERT_TRUE(undo_.RollBack());
    EXPECT_EQ(testsupport::ReadFile(Host(kInstalledLibrary)), marked ? "original" : "half-way");
    EXPECT_FALSE(testsupport::FileExists(Kept(kInstalledLibrary)));
  }
  // Adopted with nothing at the path (killed between the rename and the copy).
  undo_ = InstallUndo();
  SetRegistryBytes(kKotaComponentKey, kChangeMarkerValue, REG_SZ, "Install\\KeptAside");
  ASSERT_EQ(unlink(Host(kInstalledLibrary).c_str()), 0);
  PutFile(Kept(kInstalledLibrary), "original", kOld);
  Begin();
  ASSERT_TRUE(undo_.KeepAside(kInstalledLibrary));
  PutFile(Host(kInstalledLibrary), "new", kOld + 5);
  ASSERT_TRUE(undo_.RollBack());
  EXPECT_EQ(testsupport::ReadFile(Host(kInstalledLibrary)), "original");
}

TEST_F(InstallUndoTest, ARenameRefusedForAFileThatIsThereIsAFailure) {
  PutFile(Host(kInstalledLibrary), "old library", kOld);
  Begin();
  Fault("MoveFileExA", "qelmot32.dll", ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(undo_.KeepAside(kInstalledLibrary));
  EXPECT_EQ(testsupport::ReadFile(Host(kInstalledLibrary)), "old library");
  EXPECT_FALSE(testsupport::FileExists(Kept(kInstalledLibrary)));
}

// The version key as it was: its values by type and bytes or their absence,
// a key this run created deleted, and the component key only when this run
// created it (for the marker).
TEST_F(InstallUndoTest, TheVersionKeyComesBackValueByValue) {
  struct Case {
    const char* name;
    bool component_key;
    bool version_key;
    const char* version;  // nullptr: absent
    const char* uninstaller;
  };
  for (const Case& c : {Case{"first install", false, false, nullptr, nullptr},
                        Case{"component key only", true, false, nullptr, nullptr},
                        Case{"version without uninstaller", true, true, "3.9", nullptr},
                        Case{"both values", true, true, "3.9", "C:\\WINDOWS\\old.exe"}}) {
    SCOPED_TRACE(c.name);
    undo_ = InstallUndo();
    emu::admin::DeleteKeyTree(kKotaComponentKey);
    if (c.component_key) {
      ASSERT_TRUE(emu::admin::CreateKey(kKotaComponentKey));
    }
    if (c.version_key) {
      ASSERT_TRUE(emu::admin::CreateKey(kKotaVersionKey));
    }
    if (c.version) SetRegistryBytes(kKotaVersionKey, "Version", REG_SZ, c.version);
    if (c.uninstaller) SetRegistryBytes(kKotaVersionKey, "UnInstallImage", REG_EXPAND_SZ, c.uninstaller);
    const std::string version = Value("Version"), uninstaller = Value("UnInstallImage");
    Begin();
    EXPECT_TRUE(KeyExists(kKotaComponentKey));
    SetRegistryBytes(kKotaVersionKey, "Version", REG_SZ, "4.0");
    SetRegistryBytes(kKotaVersionKey, "UnInstallImage", REG_EXPAND_SZ, kInstalledTool);

    EXPECT_TRUE(undo_.RollBack());
    EXPECT_EQ(KeyExists(kKotaComponentKey), c.component_key);
    EXPECT_EQ(KeyExists(kKotaVersionKey), c.version_key);
    EXPECT_EQ(Value("Version"), version);
    EXPECT_EQ(Value("UnInstallImage"), uninstaller);
  }
}

// The driver service as it was: deleted when there was none, made again
// with its own definition (dependencies, group, display name, start type)
// and started when it ran, left alone when it is what it was.
TEST_F(InstallUndoTest, TheDriverServiceComesBackAsItWas) {
  PutFile(Host(kInstalledDriver), "driver", kOld);
  Begin();
  DefineDriver(kDriverServiceName, "System32\\drivers\\vtrin.sys", SERVICE_STOPPED);
  EXPECT_TRUE(undo_.RollBack());
  EXPECT_FALSE(ServiceExists(kDriverServiceName));

  undo_ = InstallUndo();
  std::string error;
  ASSERT_TRUE(emu::admin::DefineService(testsupport::Service("Base", SERVICE_RUNNING), &error)) << error;
  emu::admin::ServiceSpec own = testsupport::DependsOn(testsupport::DriverService(SERVICE_RUNNING), {"Base"});
  own.display = "Node driver";
  own.group = "Node Group";
  own.image = "\\SystemRoot\\System32\\drivers\\vtrin.sys";
  ASSERT_TRUE(emu::admin::DefineService(own, &error)) << error;
  Begin();
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
  DefineDriver(kDriverServiceName, "System32\\drivers\\vtrin.sys", SERVICE_STOPPED);
  EXPECT_TRUE(undo_.RollBack());
  emu::admin::ServiceInfo driver;
  ASSERT_TRUE(ServiceExists(kDriverServiceName, &driver));
  EXPECT_EQ(driver.display, "Node driver");
  EXPECT_EQ(driver.group, "Node Group");
  EXPECT_EQ(driver.image, own.image);
  EXPECT_EQ(driver.depends, std::vector<std::string>{"Base"});
  EXPECT_EQ(driver.start_type, static_cast<uint32_t>(SERVICE_AUTO_START));
  EXPECT_EQ(driver.type, static_cast<uint32_t>(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(driver.state, static_cast<uint32_t>(SERVICE_RUNNING));

  // Unchanged and stopped before: neither made again nor started.
  undo_ = InstallUndo();
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition(kDriverServiceName, &error)) << error;
  DefineDriver(kDriverServiceName, "System32\\drivers\\vtrin.sys", SERVICE_STOPPED);
  Begin();
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  EXPECT_TRUE(undo_.RollBack());
  emu::SetCallTrace(nullptr);
  for (const std::string& call : trace) {
    EXPECT_NE(call.rfind("CreateServiceA", 0), 0u) << call;
    EXPECT_NE(call.rfind("StartServiceA", 0), 0u) << call;
  }
  EXPECT_EQ(ServiceExists(kDriverServiceName, &driver) ? driver.state : 0, static_cast<uint32_t>(SERVICE_STOPPED));
}

// A part that cannot be put back fails the roll-back; the rest still comes
// back, and the component key (with the marker) stays.
TEST_F(InstallUndoTest, ARollBackWithAFailedPartAnswersFalseAndKeepsTheKey) {
  PutFile(Host(kInstalledDriver), "old driver", kOld);
  Begin();
  ASSERT_TRUE(undo_.KeepAside(kInstalledDriver));
  PutFile(Host(kInstalledDriver), "new", kOld);
  SetRegistryBytes(kKotaVersionKey, "Version", REG_SZ, "4.0");
  Fault("MoveFileExA", "vtrin.sys.mevrid-kept", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(undo_.RollBack());
  EXPECT_FALSE(undo_.RolledBack());
  EXPECT_TRUE(undo_.RollBackAttempted());
  EXPECT_EQ(testsupport::ReadFile(Kept(kInstalledDriver)), "old driver");
  EXPECT_FALSE(KeyExists(kKotaVersionKey));
  EXPECT_TRUE(KeyExists(kKotaComponentKey));
  EXPECT_TRUE(ReadChangeMarker().KeptAside);
}

// Past the point of no return the old files go, "KeptAside" turned into
// "Discard" before the first of them; one that cannot be deleted is left to
// the next restart, and "Discard" stays for the install's last write.
TEST_F(InstallUndoTest, DiscardLetsTheOldFilesGo) {
  PutInstalledFiles(kOld);
  Begin();
  for (const char* path : {kInstalledTool, kInstalledLibrary, kInstalledDriver}) {
    ASSERT_TRUE(undo_.KeepAside(path));
    PutFile(Host(path), "new", kOld);
  }
  Fault("DeleteFileA", "mevrid.exe.mevrid-kept", ERROR_ACCESS_DENIED);
  std::vector<std::string> deleting;
  emu::SetCallTrace(&deleting);
  EXPECT_FALSE(undo_.Discard());
  emu::SetCallTrace(nullptr);
  ASSERT_FALSE(deleting.empty());
  EXPECT_EQ(deleting[0].rfind("RegOpenKeyExA", 0), 0u) << "the marker is written before any file goes";
  EXPECT_EQ(ChangeMarkerText(ReadChangeMarker()), "Install\\Discard");
  EXPECT_FALSE(testsupport::FileExists(Kept(kInstalledLibrary)));
  EXPECT_FALSE(testsupport::FileExists(Kept(kInstalledDriver)));
  ASSERT_EQ(PendingRenames().size(), 1u);
  EXPECT_NE(PendingRenames()[0].first.find("mevrid.exe.mevrid-kept"), std::string::npos);
}

}  // namespace
}  // namespace componenttest

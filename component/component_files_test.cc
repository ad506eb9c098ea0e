#include "component/component_files.h"

#include "services/driver_service.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

constexpr time_t kOld = 1000000000;   // 2001
constexpr time_t kNew = 1100000000;   // 2004

using InstalledFileOlderTest = ComponentTest;

TEST_F(InstalledFileOlderTest, FollowsEveryRowOfItsTable) {
  const std::string installed = kInstalledLibrary;
  const std::string release = "nt_node\\qelmot32.dll";
  SetWriteTime(Release("nt_node/qelmot32.dll"), kNew);

  // Installed file absent.
  EXPECT_TRUE(IsInstalledFileOlder(installed.c_str(), release.c_str()));
  // Installed earlier, equal, later.
  PutFile(Host(installed), "x", kOld);
  EXPECT_TRUE(IsInstalledFileOlder(installed.c_str(), release.c_str()));
  SetWriteTime(Host(installed), kNew);
  EXPECT_FALSE(IsInstalledFileOlder(installed.c_str(), release.c_str()));
  SetWriteTime(Host(installed), kNew + 1);
  EXPECT_FALSE(IsInstalledFileOlder(installed.c_str(), release.c_str()));
  // Release file absent: counts as current.
  EXPECT_FALSE(IsInstalledFileOlder(installed.c_str(), "nt_node\\missing.dll"));
}

TEST_F(InstalledFileOlderTest, UnopenableOrUnreadableFilesDecideByWhichFile) {
  const char* installed = kInstalledLibrary;
  const char* release = "nt_node\\qelmot32.dll";
  PutFile(Host(installed), "x", kOld);
  SetWriteTime(Release("nt_node/qelmot32.dll"), kOld);

  Fault("CreateFileA", "system32\\qelmot32.dll", ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(IsInstalledFileOlder(installed, release));
  Fault("CreateFileA", "nt_node\\qelmot32.dll", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(IsInstalledFileOlder(installed, release));
  ASSERT_TRUE(emu::ClearFaultRules());

  // The installed file's time is read first, the release file's second.
  Fault("GetFileTime", "", ERROR_ACCESS_DENIED, 1);
  EXPECT_TRUE(IsInstalledFileOlder(installed, release));
  ASSERT_TRUE(emu::ClearFaultRules());
  Fault("GetFileTime", "", ERROR_ACCESS_DENIED, 2);
  EXPECT_FALSE(IsInstalledFileOlder(installed, release));
}

TEST_F(InstalledFileOlderTest, ClosesBothHandlesBeforeComparing) {
  PutFile(Host(kInstalledLibrary), "x", kOld);
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  IsInstalledFileOlder(kInstalledLibrary, "nt_node\\qelmot32.dll");
  emu::SetCallTrace(nullptr);
  std::vector<std::string> operations;
  for (const std::string& call : trace) operations.push_back(call.substr(0, call.find(' ')));
  EXPECT_EQ(operations, (std::vector<std::string>{"CreateFileA", "CreateFileA", "GetFileTime", "GetFileTime",
                                                  "CloseHandle", "CloseHandle", "CompareFileTime"}));
}

TEST_F(InstalledFileOlderTest, APathTooLongIsNeverCutToAnExistingFile) {
  // A 259-character path that exists, and the same path one character
  // longer: cut to 259 characters it would name the existing file.
  std::string directory = "C:\\" + std::string(200, 'd');
  std::string fitting = directory + "\\" + std::string(259 - directory.size() - 1, 'f');
  ASSERT_EQ(fitting.size(), 259u);
  PutFile(Host(fitting), "x", kNew);
  SetWriteTime(Release("mevrid.exe"), kOld);
  std::string too_long = fitting + "x";
  EXPECT_FALSE(IsInstalledFileOlder(fitting.c_str(), "mevrid.exe"));
  EXPECT_TRUE(IsInstalledFileOlder(too_long.c_str(), "mevrid.exe"));
  EXPECT_FALSE(IsInstalledFileOlder("mevrid.exe", too_long.c_str()));
}

using CopyComponentFileTest = ComponentTest;

TEST_F(CopyComponentFileTest, ReplacesAReadOnlyCopyKeepingTheReleaseTime) {
  SetWriteTime(Release("nt_node/qelmot32.dll"), kNew);
  PutFile(Host(kInstalledLibrary), "old library", kOld);
  MakeReadOnly(Host(kInstalledLibrary));
  std::string out = Captured([&] { EXPECT_EQ(CopyComponentFile("nt_node\\qelmot32.dll", kInstalledLibrary, 1), 1); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(testsupport::ReadFile(Host(kInstalledLibrary)), testsupport::ReadFile(Release("nt_node/qelmot32.dll")));
  EXPECT_EQ(WriteTime(Host(kInstalledLibrary)), kNew);
  EXPECT_FALSE(IsReadOnly(Host(kInstalledLibrary)));
}

TEST_F(CopyComponentFileTest, AMissingSourceNamesTheTarget) {
  std::string out = Captured([&] { EXPECT_EQ(CopyComponentFile("nt_node\\absent.dll", kInstalledLibrary, 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\qelmot32.dll)\n");
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledLibrary)));
  out = Captured([&] { EXPECT_EQ(CopyComponentFile("nt_node\\absent.dll", kInstalledLibrary, 0), 0); });
  EXPECT_EQ(out, "");
}

TEST_F(CopyComponentFileTest, AFailedCopyCallReportsTheTarget) {
  Fault("CopyFileA", "vtrin.sys", ERROR_SHARING_VIOLATION);
  std::string out = Captured([&] { EXPECT_EQ(CopyComponentFile("nt_node\\vtrin.sys", kInstalledDriver, 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n");
}

TEST_F(CopyComponentFileTest, ATargetTooLongFailsNamingTheWholePath) {
  std::string directory = "C:\\" + std::string(200, 'w');
  PutFile(Host(directory + "\\keep"), "", 0);
  std::string target = directory + "\\" + std::string(60, 't');
  ASSERT_EQ(target.size(), 264u);
  std::string out = Captured([&] { EXPECT_EQ(CopyComponentFile("mevrid.exe", target.c_str(), 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not copy to (" + target + ")\n");
  // Nothing at the cut name either.
  EXPECT_FALSE(testsupport::FileExists(Host(target.substr(0, 259))));
}

// A target of 300 characters that names, once its ".\" steps are taken
// out, the installed library: the system would copy to it, so only the
// tool's own length check refuses it.
TEST_F(CopyComponentFileTest, ATargetTooLongIsRefusedEvenWhenItsFullPathIsShort) {
  std::string target = "C:\\WINDOWS";
  while (target.size() + std::strlen("\\system32\\qelmot32.dll") < 300) target += "\\.";
  target += "\\system32\\qelmot32.dll";
  ASSERT_GT(target.size(), 259u);
  std::string out = Captured([&] { EXPECT_EQ(CopyComponentFile("mevrid.exe", target.c_str(), 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not copy to (" + target + ")\n");
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledLibrary)));
}

using DeleteComponentFileTest = ComponentTest;

TEST_F(DeleteComponentFileTest, DeletesAReadOnlyFile) {
  PutFile(Host(kInstalledLibrary), "library", kOld);
  MakeReadOnly(Host(kInstalledLibrary));
  std::string out = Captured([&] { EXPECT_EQ(DeleteComponentFile(kInstalledLibrary, 1), 1); });
  EXPECT_EQ(out, "");
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledLibrary)));
  EXPECT_TRUE(PendingRenames().empty());
}

TEST_F(DeleteComponentFileTest, AMissingFileIsReportedWhenVerbose) {
  std::string out = Captured([&] { EXPECT_EQ(DeleteComponentFile(kInstalledDriver, 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not delete (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n");
  out = Captured([&] { EXPECT_EQ(DeleteComponentFile(kInstalledDriver, 0), 0); });
  EXPECT_EQ(out, "");
  EXPECT_TRUE(PendingRenames().empty());
}

// The image of a running driver cannot be deleted: it is set aside under a
// fresh name in the root of the current drive, and each such name of one run
// differs from the last.
TEST_F(DeleteComponentFileTest, AFileInUseIsSetAsideForTheNextRestart) {
  PutFile(Host(kInstalledDriver), "driver", kOld);
  PutFile(Host("C:\\WINDOWS\\system32\\drivers\\other.sys"), "other", kOld);
  DefineDriver(kDriverServiceName, "system32\\drivers\\vtrin.sys", SERVICE_RUNNING);
  DefineDriver("other", "system32\\drivers\\other.sys", SERVICE_RUNNING);

  std::string out = Captured([&] {
    EXPECT_EQ(DeleteComponentFile(kInstalledDriver, 1), 1);
    EXPECT_EQ(DeleteComponentFile("C:\\WINDOWS\\system32\\drivers\\other.sys", 1), 1);
  });
  EXPECT_EQ(out, "");
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledDriver)));
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\WINDOWS\\system32\\drivers\\other.sys")));

  auto pending = PendingRenames();
  ASSERT_EQ(pending.size(), 2u);
  std::vector<std::string> moved;
  for (const auto& [source, target] : pending) {
    EXPECT_EQ(target, "");
    // "\??\C:\s<pid>.<counter>": a name in the root of drive C:.
    ASSERT_EQ(source.rfind("\\??\\C:\\s", 0), 0u) << source;
    std::string windows_name = source.substr(4);
    EXPECT_EQ(windows_name.find('\\', 3), std::string::npos) << source;
    moved.push_back(windows_name);
  }
  EXPECT_NE(moved[0], moved[1]);
  EXPECT_EQ(testsupport::ReadFile(Host(moved[0])), "driver");
  EXPECT_EQ(testsupport::ReadFile(Host(moved[1])), "other");
}

TEST_F(DeleteComponentFileTest, AFailedRenameOrSchedulingIsReported) {
  PutFile(Host(kInstalledDriver), "driver", kOld);
  DefineDriver(kDriverServiceName, "system32\\drivers\\vtrin.sys", SERVICE_RUNNING);

  Fault("MoveFileA", "vtrin.sys", ERROR_ACCESS_DENIED);
  std::string out = Captured([&] { EXPECT_EQ(DeleteComponentFile(kInstalledDriver, 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not delete (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n");
  EXPECT_EQ(testsupport::ReadFile(Host(kInstalledDriver)), "driver");
  EXPECT_TRUE(PendingRenames().empty());

  // A refused scheduling leaves the file under its temporary name.
  Fault("MoveFileExA", "", ERROR_ACCESS_DENIED);
  out = Captured([&] { EXPECT_EQ(DeleteComponentFile(kInstalledDriver, 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not delete (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n");
  EXPECT_FALSE(testsupport::FileExists(Host(kInstalledDriver)));
  EXPECT_TRUE(PendingRenames().empty());
}

TEST_F(DeleteComponentFileTest, APathTooLongDeletesNothing) {
  std::string directory = "C:\\" + std::string(200, 'd');
  std::string fitting = directory + "\\" + std::string(259 - directory.size() - 1, 'f');
  PutFile(Host(fitting), "keep", kOld);
  std::string too_long = fitting + "x";
  std::string out = Captured([&] { EXPECT_EQ(DeleteComponentFile(too_long.c_str(), 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not delete (" + too_long + ")\n");
  EXPECT_EQ(testsupport::ReadFile(Host(fitting)), "keep");
}

}  // namespace
}  // namespace componenttest

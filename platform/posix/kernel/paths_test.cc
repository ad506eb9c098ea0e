// Windows paths on the emulated machine: drives, letter case, the current
// directory, normalisation and the length limits of the ANSI calls.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using testsupport::TestMachine;

// Moves the real current directory for one test and back.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) {
    char buffer[PATH_MAX];
    saved_ = getcwd(buffer, sizeof buffer) ? buffer : "/";
    EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
  }
  ~ScopedCwd() { EXPECT_EQ(chdir(saved_.c_str()), 0); }

 private:
  std::string saved_;
};

std::string Translate(const std::string& windows_path) {
  std::string host;
  EXPECT_TRUE(emu::TranslatePath(windows_path, &host)) << windows_path;
  return host;
}

std::string Full(const std::string& windows_path) {
  std::string full;
  DWORD error = 0;
  EXPECT_TRUE(emu::k32::FullWindowsPath(windows_path, &full, &error)) << windows_path;
  return full;
}

DWORD AttributesError(const std::string& windows_path) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetFileAttributesA(windows_path.c_str()), INVALID_FILE_ATTRIBUTES) << windows_path;
  return GetLastError();
}

TEST(TranslatePath, DriveLettersMatchExistingNamesInAnyCaseAndKeepNewOnes) {
  TestMachine machine;
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/WINDOWS/system32/Qelmot32.DLL", "x"));
  EXPECT_EQ(Translate("c:\\windows\\SYSTEM32\\qelmot32.dll"), machine.DriveC() + "/WINDOWS/system32/Qelmot32.DLL");
  // The first missing component and everything after it keep the spelling given.
  EXPECT_EQ(Translate("C:\\Windows\\NewDir\\Sub\\A.txt"), machine.DriveC() + "/WINDOWS/NewDir/Sub/A.txt");
  EXPECT_EQ(Translate("C:/WINDOWS/system32"), machine.DriveC() + "/WINDOWS/system32");
  EXPECT_EQ(Translate("\\??\\C:\\WINDOWS\\vtrin.sys"), machine.DriveC() + "/WINDOWS/vtrin.sys");
  EXPECT_EQ(Translate("C:\\"), machine.DriveC());
}

TEST(TranslatePath, PrefersTheExactSpellingThenTheFirstInByteOrder) {
  TestMachine machine;
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/Foo", "a"));
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/FOO", "b"));
  EXPECT_EQ(Translate("C:\\Foo"), machine.DriveC() + "/Foo");
  EXPECT_EQ(Translate("C:\\foo"), machine.DriveC() + "/FOO");
}

TEST(TranslatePath, NormalisesDotsDotDotsAndTrailingDotsAndSpaces) {
  TestMachine machine;
  EXPECT_EQ(Translate("C:\\WINDOWS\\..\\s1v."), machine.DriveC() + "/s1v");
  EXPECT_EQ(Translate("C:\\..\\..\\x"), machine.DriveC() + "/x");
  EXPECT_EQ(Translate("C:\\WINDOWS.\\.\\system32 . \\a"), machine.DriveC() + "/WINDOWS/system32/a");
  EXPECT_EQ(Full("c:\\fexp\\..\\fexp\\src.txt."), "c:\\fexp\\src.txt");
  EXPECT_EQ(Full("C:\\a\\\\b\\"), "C:\\a\\b");
}

TEST(TranslatePath, OnlyDriveCIsCreated) {
  TestMachine machine;
  EXPECT_EQ(Translate("E:\\x\\y"), machine.dir() + "/drive_e/x/y");
  EXPECT_FALSE(testsupport::FileExists(machine.dir() + "/drive_e"));
  EXPECT_EQ(AttributesError("E:\\x\\y"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  testsupport::RemoveTree(machine.DriveC());
  EXPECT_EQ(Translate("C:\\x"), machine.DriveC() + "/x");
  EXPECT_TRUE(testsupport::FileExists(machine.DriveC()));
}

TEST(TranslatePath, RootedAndRelativePathsFollowTheRealCurrentDirectory) {
  TestMachine machine;
  std::string outside = testsupport::MakeTempDir("mevrid-cwd");
  ASSERT_TRUE(testsupport::WriteFile(outside + "/Release/NT_NODE/Qelmot32.dll", "x"));
  ASSERT_EQ(mkdir((machine.dir() + "/drive_d").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((machine.dir() + "/drive_d/Work").c_str(), 0755), 0);
  {
    // Outside every drive: relative names are host-relative, rooted names are on C:.
    ScopedCwd cwd(outside + "/Release");
    EXPECT_EQ(emu::CurrentDrive(), 'C');
    EXPECT_EQ(Translate("nt_node\\qelmot32.dll"), outside + "/Release/NT_NODE/Qelmot32.dll");
    EXPECT_EQ(Translate("..\\Release\\.\\nt_node"), outside + "/Release/NT_NODE");
    EXPECT_EQ(Translate("\\s1."), machine.DriveC() + "/s1");
    std::string full;
    DWORD error = 0;
    EXPECT_FALSE(emu::k32::FullWindowsPath("nt_node\\qelmot32.dll", &full, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  }
  {
    // Inside drive D: it is the current drive, for rooted and drive-relative names too.
    ScopedCwd cwd(machine.dir() + "/drive_d/Work");
    EXPECT_EQ(emu::CurrentDrive(), 'D');
    EXPECT_EQ(Translate("\\s1."), machine.dir() + "/drive_d/s1");
    EXPECT_EQ(Translate("a.txt"), machine.dir() + "/drive_d/Work/a.txt");
    EXPECT_EQ(Translate("..\\..\\..\\b"), machine.dir() + "/drive_d/b");
    EXPECT_EQ(Translate("d:c.txt"), machine.dir() + "/drive_d/Work/c.txt");
    EXPECT_EQ(Translate("C:c.txt"), machine.DriveC() + "/c.txt");
    EXPECT_EQ(Full("\\s1."), "D:\\s1");
    EXPECT_EQ(Full("a.txt"), "D:\\Work\\a.txt");
  }
  testsupport::RemoveTree(outside);
}

TEST(TranslatePath, NamesWithoutAHostFormFailWithWindowsErrors) {
  TestMachine machine;
  EXPECT_EQ(AttributesError(""), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(AttributesError("C:\\a*b"), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(AttributesError("C:\\a\\b?"), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(AttributesError("C:\\a:b"), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(AttributesError("\\\\server\\share\\x"), 53u);  // ERROR_BAD_NETPATH
  EXPECT_EQ(AttributesError("\\??\\relative"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/file", "x"));
  EXPECT_EQ(AttributesError("C:\\file\\below"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(AttributesError("C:\\missing"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(AttributesError("C:\\missing\\x"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(TranslatePath, TheAnsiCallsKeepWindowsLengthLimits) {
  TestMachine machine;
  ASSERT_EQ(mkdir((machine.DriveC() + "/d").c_str(), 0755), 0);
  auto name_of_length = [](size_t length) { return "C:\\d\\" + std::string(length - 5, 'b'); };
  // 259 characters is the longest path; it simply does not exist yet.
  EXPECT_EQ(AttributesError(name_of_length(259)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // 260 fits the name conversion but not the full path that follows it.
  EXPECT_EQ(AttributesError(name_of_length(260)), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(AttributesError(name_of_length(261)), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(AttributesError(name_of_length(400)), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  // The full path counts, not the name as written.
  EXPECT_EQ(AttributesError("C:\\d\\..\\d\\" + std::string(250, 'b')), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // The second name of a copy is converted without the static buffer: only the full-path limit applies.
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/d/src", "x"));
  std::string long_target = "C:\\d\\..\\d\\..\\d\\..\\d\\..\\d\\..\\d\\" + std::string(240, 't');
  ASSERT_GT(long_target.size(), 260u);
  EXPECT_TRUE(CopyFileA("C:\\d\\src", long_target.c_str(), FALSE)) << GetLastError();
  SetLastError(0);
  EXPECT_FALSE(CopyFileA(long_target.c_str(), "C:\\d\\dst", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace

// The emulated file calls where the host has to be made to answer like
// Windows: read-only as a permission bit (also for root), files in use,
// share modes of open handles, atomic copies, exact FILETIMEs, handles, the
// renames deferred to a reboot, and fault rules.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

class FilesTest : public ::testing::Test {
 protected:
  std::string Host(const std::string& windows_path) { return machine_.HostPath(windows_path); }
  void Write(const std::string& windows_path, const std::string& contents) {
    ASSERT_TRUE(WriteFile(Host(windows_path), contents)) << windows_path;
  }
  mode_t Mode(const std::string& windows_path) {
    struct stat st;
    EXPECT_EQ(stat(Host(windows_path).c_str(), &st), 0) << windows_path;
    return st.st_mode & 07777;
  }
  static void ExpectError(BOOL ok, DWORD error) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), error);
  }
  HANDLE Open(const char* path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    SetLastError(0xdeadbeef);
    return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // A running driver service of this name, its image NAME.sys written in the
  // drivers directory.
  void DefineRunningDriver(const std::string& name, uint32_t start_type) {
    Write("C:\\WINDOWS\\system32\\drivers\\" + name + ".sys", "MZ");
    emu::admin::ServiceSpec driver;
    driver.name = name;
    driver.driver = true;
    driver.image = "System32\\drivers\\" + name + ".sys";
    driver.start_type = start_type;
    driver.state = SERVICE_RUNNING;
    std::string error;
    ASSERT_TRUE(emu::admin::DefineService(driver, &error)) << error;
  }
  std::string Pending() {
    int64_t key = emu::store::FindKey(emu::store::kRootKeyId, kSessionManager);
    emu::store::Value value;
    if (key == emu::store::kNoKey || !emu::store::GetValue(key, "PendingFileRenameOperations", &value)) return "<none>";
    EXPECT_EQ(value.type, static_cast<uint32_t>(REG_MULTI_SZ));
    return value.data;
  }
  // A running copy of a helper program, started from the machine's C:\bin.
  PROCESS_INFORMATION StartHelper(const std::string& helper, const std::string& windows_path) {
    std::string host = Host(windows_path);
    EXPECT_TRUE(WriteFile(host, ReadFile(testsupport::HelpersDir() + "/" + helper), true));
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION info = {};
    std::string command = windows_path;
    EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                               &startup, &info))
        << GetLastError();
    return info;
  }

  testsupport::TestMachine machine_;
};

TEST_F(FilesTest, ReadOnlyIsTheOwnerWriteBitAndHoldsEvenForRoot) {
  Write("C:\\ro.txt", "old");
  Write("C:\\src.txt", "new");
  EXPECT_EQ(GetFileAttributesA("C:\\ro.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Mode("C:\\ro.txt") & 0222, 0u);
  EXPECT_EQ(GetFileAttributesA("C:\\RO.TXT"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ExpectError(DeleteFileA("C:\\ro.txt"), ERROR_ACCESS_DENIED);
  ExpectError(CopyFileA("C:\\src.txt", "C:\\ro.txt", FALSE), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open("C:\\ro.txt", GENERIC_WRITE, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(Host("C:\\ro.txt")), "old");
  // Renaming does not write the file.
  ASSERT_TRUE(MoveFileA("C:\\ro.txt", "C:\\ro2.txt")) << GetLastError();
  ASSERT_TRUE(SetFileAttributesA("C:\\ro2.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Mode("C:\\ro2.txt") & S_IWUSR, static_cast<mode_t>(S_IWUSR));
  EXPECT_TRUE(DeleteFileA("C:\\ro2.txt"));
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  ExpectError(DeleteFileA("C:\\WINDOWS"), ERROR_ACCESS_DENIED);
}

TEST_F(FilesTest, CopyKeepsModeAndLastWriteTimeAndReplacesTheTargetAtOnce) {
  Write("C:\\src.dll", "release contents");
  Write("C:\\WINDOWS\\dst.dll", "installed");
  struct timespec times[2] = {{0, UTIME_OMIT}, {946684800, 123456700}};
  ASSERT_EQ(utimensat(AT_FDCWD, Host("C:\\src.dll").c_str(), times, 0), 0);
  ASSERT_EQ(chmod(Host("C:\\src.dll").c_str(), 0444), 0);
  // A reader of the old file keeps the old contents: the copy is renamed into place.
  int reader = open(Host("C:\\WINDOWS\\dst.dll").c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(CopyFileA("C:\\src.dll", "c:\\windows\\DST.DLL", FALSE)) << GetLastError();
  EXPECT_EQ(ReadFile(Host("C:\\WINDOWS\\dst.dll")), "release contents");
  char old[16] = {};
  EXPECT_EQ(read(reader, old, sizeof old), 9);
  EXPECT_STREQ(old, "installed");
  close(reader);
  struct stat st;
  ASSERT_EQ(stat(Host("C:\\WINDOWS\\dst.dll").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 946684800);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  // Nothing of the copy is left beside the target.
  DIR* dir = opendir(Host("C:\\WINDOWS").c_str());
  ASSERT_NE(dir, nullptr);
  while (struct dirent* entry = readdir(dir))
    EXPECT_EQ(std::string(entry->d_name).find(".mevrid-copy"), std::string::npos);
  closedir(dir);
  ExpectError(CopyFileA("C:\\src.dll", "C:\\WINDOWS\\dst.dll", TRUE), ERROR_FILE_EXISTS);
  ExpectError(CopyFileA("C:\\nothing.dll", "C:\\new.dll", FALSE), ERROR_FILE_NOT_FOUND);
  ExpectError(CopyFileA("C:\\src.dll", "C:\\nodir\\new.dll", FALSE), ERROR_PATH_NOT_FOUND);
  ExpectError(CopyFileA("C:\\src.dll", "C:\\SRC.DLL", FALSE), ERROR_SHARING_VIOLATION);
}

// Half-written copies a killed process left beside a copy target go with
// the next copy into that directory, or with the reboot; a copy that a live
// process is writing stays. Names carry the writer's process id.
TEST_F(FilesTest, StaleCopiesGoWithTheNextCopyThereOrTheReboot) {
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string stale = ".mevrid-copy-" + std::to_string(dead) + "-Ab12Cd";
  const std::string live = ".mevrid-copy-" + std::to_string(getpid()) + "-Ef34Gh";
  const std::string older = ".mevrid-copy-Xy56Zw";  // an older build's name, without a process id
  const std::vector<std::string> dirs = {"C:\\WINDOWS", "C:\\WINDOWS\\system32", "C:\\WINDOWS\\system32\\drivers"};
  for (const std::string& dir : dirs)
    for (const std::string& name : {stale, live, older}) Write(dir + "\\" + name, "half");
  Write("C:\\source.dll", "new");
  auto left = [&](const std::string& dir) {
    std::vector<std::string> names;
    for (const std::string& name : {stale, live, older})
      if (FileExists(Host(dir) + "/" + name)) names.push_back(name);
    return names;
  };

  ASSERT_TRUE(CopyFileA("C:\\source.dll", "C:\\WINDOWS\\system32\\qelmot32.dll", FALSE)) << GetLastError();
  EXPECT_EQ(ReadFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll")), "new");
  EXPECT_EQ(left(dirs[1]), std::vector<std::string>{live});
  for (const std::string& dir : {dirs[0], dirs[2]})
    EXPECT_EQ(left(dir), (std::vector<std::string>{stale, live, older}));

  std::string error;
  ASSERT_TRUE(emu::admin::Reboot(&error)) << error;
  for (const std::string& dir : dirs) EXPECT_EQ(left(dir), std::vector<std::string>{live}) << dir;
}

TEST_F(FilesTest, FileTimesAreHundredNanosecondTicksSince1601) {
  Write("C:\\t.txt", "x");
  struct timespec times[2] = {{0, UTIME_OMIT}, {946684800, 123456700}};  // 2000-01-01 00:00:00.1234567
  ASSERT_EQ(utimensat(AT_FDCWD, Host("C:\\t.txt").c_str(), times, 0), 0);
  ScopedFile reader(Open("C:\\t.txt", GENERIC_READ, FILE_SHARE_READ));
  ASSERT_TRUE(reader) << GetLastError();
  FILETIME written = {1, 1};
  ASSERT_TRUE(GetFileTime(reader.Get(), nullptr, nullptr, &written));
  const uint64_t ticks = 125911584001234567ULL;
  EXPECT_EQ(written.dwLowDateTime, static_cast<DWORD>(ticks & 0xFFFFFFFF));
  EXPECT_EQ(written.dwHighDateTime, static_cast<DWORD>(ticks >> 32));
  // Setting needs a handle that may write attributes.
  FILETIME later = {static_cast<DWORD>((ticks + 10) & 0xFFFFFFFF), static_cast<DWORD>((ticks + 10) >> 32)};
  ExpectError(SetFileTime(reader.Get(), nullptr, nullptr, &later), ERROR_ACCESS_DENIED);
  reader.Close();
  ScopedFile writer(Open("C:\\t.txt", GENERIC_WRITE, 0));
  ASSERT_TRUE(writer) << GetLastError();
  ASSERT_TRUE(SetFileTime(writer.Get(), nullptr, nullptr, &later));
  FILETIME zero = {0, 0};
  ASSERT_TRUE(SetFileTime(writer.Get(), &zero, &zero, &zero));  // zero: keep
  writer.Close();
  struct stat st;
  ASSERT_EQ(stat(Host("C:\\t.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 946684800);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123457700);
  EXPECT_EQ(CompareFileTime(&written, &later), -1);
  EXPECT_EQ(CompareFileTime(&later, &written), 1);
  EXPECT_EQ(CompareFileTime(&later, &later), 0);
  // The high word decides before the low word.
  FILETIME high = {0, 2}, low = {0xFFFFFFFF, 1};
  EXPECT_EQ(CompareFileTime(&high, &low), 1);
}

TEST_F(FilesTest, OpenHandlesShareAsTheirShareModesAllow) {
  Write("C:\\shared.txt", "x");
  ScopedFile first(Open("C:\\shared.txt", GENERIC_READ, FILE_SHARE_READ));
  ASSERT_TRUE(first);
  ScopedFile second(Open("C:\\SHARED.TXT", GENERIC_READ, FILE_SHARE_READ));
  EXPECT_TRUE(second);
  EXPECT_EQ(Open("C:\\shared.txt", GENERIC_WRITE, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // A reader that does not share reading conflicts with the readers already there.
  EXPECT_EQ(Open("C:\\shared.txt", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ExpectError(DeleteFileA("C:\\shared.txt"), ERROR_SHARING_VIOLATION);
  ExpectError(MoveFileA("C:\\shared.txt", "C:\\moved.txt"), ERROR_SHARING_VIOLATION);
  Write("C:\\other.txt", "y");
  ExpectError(CopyFileA("C:\\other.txt", "C:\\shared.txt", FALSE), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(CopyFileA("C:\\shared.txt", "C:\\copy.txt", FALSE));
  first.Close();
  second.Close();
  EXPECT_TRUE(MoveFileA("C:\\shared.txt", "C:\\moved.txt"));
  // Sharing deletion lets the file go while it is open.
  ScopedFile open(Open("C:\\moved.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE));
  ASSERT_TRUE(open);
  EXPECT_TRUE(DeleteFileA("C:\\moved.txt")) << GetLastError();
}

// A close that a fault rule makes fail still lets go of the handle, as on
// Windows a failed close had no open handle to keep (and as the registry's
// and the service manager's closes do): the file is free again.
TEST_F(FilesTest, HandlesCloseOnceEvenWhenAFaultRuleFailsTheClose) {
  Write("C:\\h.txt", "x");
  const size_t before = emu::admin::OpenKernelHandleCount();
  HANDLE file = Open("C:\\h.txt", GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(emu::admin::OpenKernelHandleCount(), before + 1);
  ASSERT_TRUE(emu::AddFaultRule("CloseHandle", "h.txt", ERROR_INVALID_FUNCTION, 1, false));
  ExpectError(CloseHandle(file), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(emu::admin::OpenKernelHandleCount(), before);
  EXPECT_TRUE(DeleteFileA("C:\\h.txt")) << "the failed close left the file open";
  ExpectError(CloseHandle(file), ERROR_INVALID_HANDLE);
  ExpectError(CloseHandle(nullptr), ERROR_INVALID_HANDLE);
  FILETIME time;
  ExpectError(GetFileTime(file, nullptr, nullptr, &time), ERROR_INVALID_HANDLE);
  // A new handle never takes the value of a closed one.
  Write("C:\\h.txt", "x");
  ScopedFile again(Open("C:\\h.txt", GENERIC_READ, FILE_SHARE_READ));
  EXPECT_NE(again.Get(), file);
}

TEST_F(FilesTest, FaultRulesFailTheNamedCallWithTheirErrorAndTraceIt) {
  Write("C:\\victim.txt", "x");
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  ASSERT_TRUE(emu::AddFaultRule("DeleteFileA", "VICTIM", ERROR_SHARING_VIOLATION, 1, false));
  ExpectError(DeleteFileA("C:\\victim.txt"), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(FileExists(Host("C:\\victim.txt")));
  EXPECT_TRUE(DeleteFileA("C:\\victim.txt"));
  ASSERT_TRUE(emu::AddFaultRule("CopyFileA", "nt_node\\", ERROR_DISK_FULL, 1, true));
  ExpectError(CopyFileA("nt_node\\a.dll", "C:\\a.dll", FALSE), ERROR_DISK_FULL);
  emu::SetCallTrace(nullptr);
  EXPECT_EQ(trace, (std::vector<std::string>{"DeleteFileA C:\\victim.txt", "DeleteFileA C:\\victim.txt",
                                             "CopyFileA nt_node\\a.dll C:\\a.dll"}));
}

TEST_F(FilesTest, ANewSpellingOfTheSameNameRenamesIt) {
  Write("C:\\b.txt", "b");
  // The target matches the existing name without case; it is the same file.
  ASSERT_TRUE(MoveFileA("C:\\b.txt", "C:\\B.TXT")) << GetLastError();
  EXPECT_TRUE(FileExists(machine_.DriveC() + "/B.TXT"));
  EXPECT_FALSE(FileExists(machine_.DriveC() + "/b.txt"));
  EXPECT_EQ(ReadFile(machine_.DriveC() + "/B.TXT"), "b");
}

TEST_F(FilesTest, ImagesInUseCanBeRenamedButNotDeletedOrOverwritten) {
  // The image of a running driver service.
  ASSERT_NO_FATAL_FAILURE(DefineRunningDriver("vtrin", SERVICE_DEMAND_START));
  const char* image = "C:\\WINDOWS\\system32\\drivers\\vtrin.sys";
  EXPECT_TRUE(emu::IsFileInUse(Host(image)));
  ExpectError(DeleteFileA(image), ERROR_ACCESS_DENIED);
  Write("C:\\new.sys", "MZ2");
  ExpectError(CopyFileA("C:\\new.sys", image, FALSE), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Open(image, GENERIC_WRITE, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadFile(Host(image)), "MZ");
  EXPECT_TRUE(MoveFileA(image, "\\s1.")) << GetLastError();
  EXPECT_TRUE(FileExists(machine_.DriveC() + "/s1"));

  // The image of a live process, under any later name.
  PROCESS_INFORMATION process = StartHelper("never_ends", "C:\\bin\\pre.exe");
  EXPECT_TRUE(emu::IsFileInUse(Host("C:\\bin\\pre.exe")));
  ExpectError(DeleteFileA("C:\\bin\\pre.exe"), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(MoveFileA("C:\\bin\\pre.exe", "C:\\bin\\old.exe"));
  ExpectError(DeleteFileA("C:\\bin\\old.exe"), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(TerminateProcess(process.hProcess, 1));
  EXPECT_TRUE(DeleteFileA("C:\\bin\\old.exe")) << GetLastError();
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);

  // This program's own image; a data file is in use by nobody.
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  EXPECT_TRUE(emu::IsFileInUse(std::string(self, static_cast<size_t>(length))));
  Write("C:\\data.bin", "x");
  EXPECT_FALSE(emu::IsFileInUse(Host("C:\\data.bin")));
}

TEST_F(FilesTest, DeferredOperationsAreRecordedAsWindowsRecordsThem) {
  EXPECT_EQ(Pending(), "<none>");
  ASSERT_TRUE(MoveFileExA("\\s1.", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(Pending(), std::string("\\??\\C:\\s1\0\0\0", 12));
  ASSERT_TRUE(MoveFileExA("c:\\WINDOWS\\..\\a", "C:\\b", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  ASSERT_TRUE(MoveFileExA("C:\\c", "C:\\d", MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(Pending(), std::string("\\??\\C:\\s1\0\0\\??\\c:\\a\0!\\??\\C:\\b\0\\??\\C:\\c\0\\??\\C:\\d\0\0", 49));
  ExpectError(MoveFileExA("C:\\a", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED),
              ERROR_INVALID_PARAMETER);
  // A name with no Windows form cannot be recorded.
  std::string outside = testsupport::MakeTempDir("mevrid-outside");
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(outside.c_str()), 0);
  ExpectError(MoveFileExA("relative.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(chdir(saved), 0);
  testsupport::RemoveTree(outside);
}

TEST_F(FilesTest, TheRebootCarriesOutDeferredOperationsThenTheServices) {
  Write("C:\\s1", "in use");
  ASSERT_EQ(chmod(Host("C:\\s1").c_str(), 0444), 0);  // read-only does not protect it at boot
  Write("C:\\a", "a");
  Write("C:\\b", "old b");
  Write("C:\\c", "c");
  Write("C:\\d", "d");
  ASSERT_TRUE(MoveFileExA("C:\\s1", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExA("C:\\gone", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));  // already gone: nothing to do
  ASSERT_TRUE(MoveFileExA("C:\\a", "C:\\b", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  ASSERT_TRUE(MoveFileExA("C:\\c", "C:\\d", MOVEFILE_DELAY_UNTIL_REBOOT));  // may not replace d
  // A driver whose image goes at the reboot stays down after it.
  ASSERT_NO_FATAL_FAILURE(DefineRunningDriver("old", SERVICE_AUTO_START));
  std::string error;
  ASSERT_TRUE(MoveFileExA("C:\\WINDOWS\\system32\\drivers\\old.sys", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));

  EXPECT_FALSE(emu::admin::Reboot(&error));
  EXPECT_EQ(error, "cannot rename \\??\\C:\\c: \\??\\C:\\d exists");
  EXPECT_FALSE(FileExists(Host("C:\\s1")));
  EXPECT_FALSE(FileExists(Host("C:\\a")));
  EXPECT_EQ(ReadFile(Host("C:\\b")), "a");
  EXPECT_EQ(ReadFile(Host("C:\\c")), "c");
  EXPECT_EQ(ReadFile(Host("C:\\d")), "d");
  EXPECT_FALSE(FileExists(Host("C:\\WINDOWS\\system32\\drivers\\old.sys")));
  emu::admin::ServiceInfo info;
  ASSERT_TRUE(emu::admin::QueryService("old", &info, &error)) << error;
  EXPECT_EQ(info.state, static_cast<uint32_t>(SERVICE_STOPPED));
  // The list is cleared whatever became of its entries.
  EXPECT_EQ(Pending(), "<none>");
  EXPECT_TRUE(emu::admin::Reboot(&error)) << error;
}

}  // namespace

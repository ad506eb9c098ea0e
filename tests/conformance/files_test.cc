// The file calls as Windows answers them, held against the emulation and
// against Wine: attributes, the read-only attribute against copies and
// deletions, last-write times through copies, moves, share modes, handles,
// and the deletions deferred to the next restart.
#include <cstring>
#include <string>

#include "tests/conformance/conformance.h"
#include "tests/conformance/scratch.h"

namespace {

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPending[] = "PendingFileRenameOperations";

FILETIME Ticks(uint64_t ticks) { return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)}; }

class FileCalls : public conformance::ScratchTest {
 protected:
  HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    SetLastError(0xdeadbeef);
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  FILETIME LastWrite(const std::string& path) {
    FILETIME time = {0xdeadbeef, 0xdeadbeef};
    HANDLE file = Open(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(GetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
    return time;
  }
  void SetLastWrite(const std::string& path, uint64_t ticks) {
    HANDLE file = Open(path, GENERIC_WRITE, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
    FILETIME time = Ticks(ticks);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time)) << GetLastError();
    CloseHandle(file);
  }
  DWORD Attributes(const std::string& path) {
    SetLastError(0xdeadbeef);
    return GetFileAttributesA(path.c_str());
  }
};

TEST_F(FileCalls, AttributesOfFilesDirectoriesAndMissingNames) {
  std::string file = MakeFile("a.txt");
  EXPECT_EQ(Attributes(file), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Attributes(file), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Attributes(file), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Attributes(dir_), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  // Names are matched without case; trailing dots and spaces are not part of them.
  EXPECT_EQ(Attributes(dir_ + "\\A.TXT"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Attributes(dir_ + "\\a.txt. ."), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Attributes(dir_ + "\\missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Attributes(dir_ + "\\missing\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Attributes(file + "\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Attributes(dir_ + "\\a*"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(Attributes(""), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A name longer than 260 characters never reaches the file system.
  EXPECT_EQ(Attributes(dir_ + "\\" + std::string(261, 'x')), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(FileCalls, ReadOnlyTargetsRefuseCopiesAndDeletions) {
  std::string source = MakeFile("source.dll");
  std::string target = MakeFile("target.dll");
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  SetLastError(0);
  BOOL copied = CopyFileA(source.c_str(), target.c_str(), FALSE);
  // Wine maps the attribute to permission bits, which its test run as root
  // does not feel.
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), 0u, copied ? 0u : GetLastError());
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectError(DeleteFileA(target.c_str()), ERROR_ACCESS_DENIED);
  EXPECT_NE(Attributes(target), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << GetLastError();
  EXPECT_TRUE(DeleteFileA(target.c_str())) << GetLastError();
  EXPECT_EQ(Attributes(target), INVALID_FILE_ATTRIBUTES);
  ExpectError(DeleteFileA(target.c_str()), ERROR_FILE_NOT_FOUND);
  ExpectError(DeleteFileA((dir_ + "\\nodir\\x").c_str()), ERROR_PATH_NOT_FOUND);
  ExpectError(DeleteFileA(dir_.c_str()), ERROR_ACCESS_DENIED);
}

TEST_F(FileCalls, CopiesKeepTheLastWriteTimeAndTheAttributes) {
  std::string source = MakeFile("vtrin.sys");
  const uint64_t ticks = 125911584001234560ULL;  // 2000-01-01 00:00:00.123456
  SetLastWrite(source, ticks);
  ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY));
  std::string target = Path("copy.sys");
  ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << GetLastError();
  FILETIME copied = LastWrite(target);
  FILETIME original = Ticks(ticks);
  EXPECT_EQ(CompareFileTime(&copied, &original), 0);
  EXPECT_EQ(copied.dwLowDateTime, original.dwLowDateTime);
  EXPECT_EQ(copied.dwHighDateTime, original.dwHighDateTime);
  EXPECT_EQ(Attributes(target), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ExpectError(CopyFileA(source.c_str(), target.c_str(), TRUE), ERROR_FILE_EXISTS);
  ExpectError(CopyFileA((dir_ + "\\none").c_str(), Path("x").c_str(), FALSE), ERROR_FILE_NOT_FOUND);
  ExpectError(CopyFileA(source.c_str(), (dir_ + "\\nodir\\x").c_str(), FALSE), ERROR_PATH_NOT_FOUND);
  ExpectError(CopyFileA(source.c_str(), source.c_str(), FALSE), ERROR_SHARING_VIOLATION);
  ExpectError(CopyFileA(dir_.c_str(), Path("d").c_str(), FALSE), ERROR_ACCESS_DENIED);
}

TEST_F(FileCalls, CompareFileTimeGivesTheSignOfTheDifference) {
  FILETIME early = {0xFFFFFFFFu, 1}, late = {0, 2}, same = {0, 2};
  EXPECT_EQ(CompareFileTime(&early, &late), -1);
  EXPECT_EQ(CompareFileTime(&late, &early), 1);
  EXPECT_EQ(CompareFileTime(&late, &same), 0);
  FILETIME a = {1, 5}, b = {2, 5};
  EXPECT_EQ(CompareFileTime(&a, &b), -1);
  EXPECT_EQ(CompareFileTime(&b, &a), 1);
}

TEST_F(FileCalls, MovesRenameButNeverOverwriteWithoutBeingAsked) {
  std::string a = MakeFile("a.txt");
  std::string b = MakeFile("b.txt");
  ExpectError(MoveFileA(a.c_str(), b.c_str()), ERROR_ALREADY_EXISTS);
  ExpectError(MoveFileA((dir_ + "\\none").c_str(), Path("c.txt").c_str()), ERROR_FILE_NOT_FOUND);
  ExpectError(MoveFileA(a.c_str(), (dir_ + "\\nodir\\c.txt").c_str()), ERROR_PATH_NOT_FOUND);
  // A read-only file may be renamed.
  ASSERT_TRUE(SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_READONLY));
  std::string moved = Path("moved.txt");
  ASSERT_TRUE(MoveFileA(a.c_str(), moved.c_str())) << GetLastError();
  EXPECT_EQ(Attributes(a), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Attributes(moved), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA(moved.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(MoveFileExA(moved.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
  EXPECT_EQ(Attributes(moved), INVALID_FILE_ATTRIBUTES);
}

// An old file kept aside under another name in its folder and put back
// over its replacement: a rename keeps the last-write time, never replaces
// without being asked, and a read-only or undeletable target refuses it.
TEST_F(FileCalls, AFileKeptAsideByRenameComesBackWithItsTime) {
  std::string original = MakeFile("vtrin.sys");
  const uint64_t ticks = 125911584001234560ULL;
  SetLastWrite(original, ticks);
  std::string kept = Path("vtrin.sys.mevrid-kept");
  ASSERT_TRUE(MoveFileExA(original.c_str(), kept.c_str(), 0)) << GetLastError();
  EXPECT_EQ(Attributes(original), INVALID_FILE_ATTRIBUTES);
  std::string replacement = MakeFile("vtrin.sys");
  EXPECT_EQ(replacement, original);
  ExpectError(MoveFileExA(kept.c_str(), original.c_str(), 0), ERROR_ALREADY_EXISTS);
  {
    // A read-only target is not replaced; Wine replaces it.
    std::string guard = MakeFile("guard.sys");
    std::string spare = MakeFile("spare.sys");
    ASSERT_TRUE(SetFileAttributesA(guard.c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(0xdeadbeef);
    const BOOL replaced = MoveFileExA(spare.c_str(), guard.c_str(), MOVEFILE_REPLACE_EXISTING);
    WINE_DIVERGENCE_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), 0u, replaced ? 0u : GetLastError());
  }
  {
    // Held open without delete sharing, neither name can be renamed over.
    HANDLE held = Open(kept, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ExpectError(MoveFileExA(kept.c_str(), original.c_str(), MOVEFILE_REPLACE_EXISTING), ERROR_SHARING_VIOLATION);
    CloseHandle(held);
  }
  ASSERT_TRUE(MoveFileExA(kept.c_str(), original.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
  EXPECT_EQ(Attributes(kept), INVALID_FILE_ATTRIBUTES);
  FILETIME back = LastWrite(original);
  FILETIME expected = Ticks(ticks);
  EXPECT_EQ(CompareFileTime(&back, &expected), 0);
  ExpectError(MoveFileExA(kept.c_str(), original.c_str(), MOVEFILE_REPLACE_EXISTING), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileCalls, CreateFileDispositionsAndShareModes) {
  std::string file = MakeFile("f.txt");
  EXPECT_EQ(Open(file, GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  HANDLE again = Open(file, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CloseHandle(again));
  EXPECT_EQ(Open(dir_ + "\\none", GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open(dir_ + "\\nodir\\none", GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open(dir_, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // The tool's way of reading a file: others may read it too, nothing else.
  HANDLE reader = Open(file, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second = Open(file, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_EQ(Open(file, GENERIC_WRITE, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ExpectError(DeleteFileA(file.c_str()), ERROR_SHARING_VIOLATION);
  ExpectError(MoveFileA(file.c_str(), Path("g.txt").c_str()), ERROR_SHARING_VIOLATION);
  // Setting times needs a handle that may write attributes; Wine does not check.
  FILETIME time = Ticks(125911584000000000ULL);
  SetLastError(0);
  BOOL set = SetFileTime(reader, nullptr, nullptr, &time);
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), 0u, set ? 0u : GetLastError());
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_TRUE(DeleteFileA(file.c_str())) << GetLastError();
}

TEST_F(FileCalls, HandlesCloseOnce) {
  std::string file = MakeFile("h.txt");
  HANDLE handle = Open(file, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(handle));
  ExpectError(CloseHandle(handle), ERROR_INVALID_HANDLE);
  ExpectError(CloseHandle(nullptr), ERROR_INVALID_HANDLE);
}

TEST_F(FileCalls, DirectoriesAreCreatedOnceAndRemovedWhenEmpty) {
  std::string dir = Path("d");
  EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  ExpectError(CreateDirectoryA(dir.c_str(), nullptr), ERROR_ALREADY_EXISTS);
  ExpectError(CreateDirectoryA((dir_ + "\\no\\no").c_str(), nullptr), ERROR_PATH_NOT_FOUND);
  std::string inside = MakeFile("d\\x");
  ExpectError(RemoveDirectoryA(dir.c_str()), 145u);  // ERROR_DIR_NOT_EMPTY
  ExpectError(RemoveDirectoryA(inside.c_str()), 267u);  // ERROR_DIRECTORY
  ExpectError(RemoveDirectoryA((dir_ + "\\none").c_str()), ERROR_FILE_NOT_FOUND);
}

// The deferred deletion as the tool asks for it: a temporary name in the root
// of the drive, its trailing dot dropped, recorded behind whatever was
// already pending. The value is put back as it was, so nothing runs at the
// next boot of the test machine.
TEST_F(FileCalls, DeletionsAtTheNextRestartAreRecordedInTheSessionManager) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ | KEY_SET_VALUE, &key), ERROR_SUCCESS);
  std::string before;
  DWORD type = 0;
  BYTE buffer[8192];
  DWORD size = sizeof buffer;
  bool had_value = RegQueryValueExA(key, kPending, nullptr, &type, buffer, &size) == ERROR_SUCCESS;
  if (had_value) before.assign(reinterpret_cast<char*>(buffer), size);

  std::string gone = dir_ + "\\gone.";
  ASSERT_TRUE(MoveFileExA(gone.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();
  std::string from = dir_ + "\\from", to = dir_ + "\\to";
  ASSERT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, kPending, nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  std::string expected = before;
  if (!expected.empty()) expected.pop_back();  // the old list's closing empty string
  expected += "\\??\\" + dir_ + "\\gone" + std::string(2, '\0');
  expected += "\\??\\" + from + '\0' + "!\\??\\" + to + '\0' + '\0';
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), expected);

  // Nothing can be copied at boot time; Wine records the entry all the same.
  SetLastError(0);
  BOOL copy_at_boot = MoveFileExA(from.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED);
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), 0u, copy_at_boot ? 0u : GetLastError());
  if (had_value)
    EXPECT_EQ(RegSetValueExA(key, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(before.data()),
                             static_cast<DWORD>(before.size())),
              ERROR_SUCCESS);
  else
    EXPECT_EQ(RegDeleteValueA(key, kPending), ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace

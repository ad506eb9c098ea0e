// A scratch directory per conformance test, made and removed with the Win32
// calls themselves so the same source runs on the emulation and on Windows:
// C:\mevrid-conformance\<suite>.<test>, with everything a test puts there
// recorded so it can be taken away again (there is no directory listing in
// the tool's subset of Win32), and the helper programs of the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"

#ifndef _WIN32
#include <filesystem>
#endif

namespace conformance {

class ScratchTest : public ::testing::Test {
 protected:
  static constexpr const char* kRoot = "C:\\mevrid-conformance";

  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::string(kRoot) + "\\" + info->test_suite_name() + "." + info->name();
    CreateDirectoryA(kRoot, nullptr);
    CreateDirectoryA(dir_.c_str(), nullptr);
    ASSERT_EQ(GetFileAttributesA(dir_.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) << dir_;
  }

  void TearDown() override {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      SetFileAttributesA(it->c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileA(it->c_str())) RemoveDirectoryA(it->c_str());
    }
    EXPECT_TRUE(RemoveDirectoryA(dir_.c_str())) << dir_ << " error " << GetLastError();
    RemoveDirectoryA(kRoot);  // goes with the last test's directory
  }

  // The path of a name in the scratch directory, recorded for removal.
  std::string Path(const std::string& name) {
    std::string path = dir_ + "\\" + name;
    made_.push_back(path);
    return path;
  }

  // A file with no contents (the subset has no WriteFile).
  std::string MakeFile(const std::string& name) {
    std::string path = Path(name);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
    CloseHandle(file);
    return path;
  }

  std::string MakeDir(const std::string& name) {
    std::string path = Path(name);
    EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << " error " << GetLastError();
    return path;
  }

  // A copy of a test helper program (exit_with, never_ends, record_args)
  // under the given name in the scratch directory; empty when the build has
  // no such helper. Helpers lie beside the test binary on Windows and in
  // the tests' helper directory on POSIX, which a relative path reaches.
  std::string InstallHelper(const std::string& helper, const std::string& name) {
#ifdef _WIN32
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string source(self, length);
    source = source.substr(0, source.find_last_of('\\') + 1) + helper + ".exe";
#else
    std::error_code ec;
    std::string source =
        std::filesystem::relative(std::filesystem::path(MEVRID_TEST_HELPERS_DIR) / helper, ec).string();
    for (char& c : source)
      if (c == '/') c = '\\';
#endif
    if (GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES) return std::string();
    std::string path = Path(name);
    EXPECT_TRUE(CopyFileA(source.c_str(), path.c_str(), FALSE)) << source << " error " << GetLastError();
    return path;
  }

  static void ExpectError(BOOL ok, DWORD error) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), error);
  }

  std::string dir_;
  std::vector<std::string> made_;
};

}  // namespace conformance

// Starting, waiting for and ending processes as Windows does it, held
// against the emulation and against Wine, with the tool's own way of
// starting a pre-processor: no application name, a new console, the tool's
// environment and directory.
#include <string>

#include "tests/conformance/conformance.h"
#include "tests/conformance/scratch.h"

namespace {

class ProcessCalls : public conformance::ScratchTest {
 protected:
  void TearDown() override {
    for (const PROCESS_INFORMATION& info : started_) {
      TerminateProcess(info.hProcess, 1);  // fails harmlessly once it has ended
      WaitForSingleObject(info.hProcess, 5000);
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
    }
    started_.clear();
    ScratchTest::TearDown();
  }

  // The Windows build puts the helpers (tests/helpers/*.c, built as
  // <name>.exe) beside conformance_tests.exe; a build without them skips the
  // cases that run one, and says so.
  std::string Helper(const std::string& helper, const std::string& name) {
    return InstallHelper(helper, name);
  }

  BOOL Start(const std::string& command_line, PROCESS_INFORMATION* info) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    std::string line = command_line;
    PROCESS_INFORMATION sentinel = {reinterpret_cast<HANDLE>(0x1234), reinterpret_cast<HANDLE>(0x5678), 0xdead, 0xbeef};
    *info = sentinel;
    SetLastError(0xdeadbeef);
    BOOL ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                             &startup, info);
    if (ok) started_.push_back(*info);
    return ok;
  }

  DWORD ExitCode(HANDLE process) {
    DWORD code = 0xdeadbeef;
    EXPECT_TRUE(GetExitCodeProcess(process, &code)) << GetLastError();
    return code;
  }

  std::vector<PROCESS_INFORMATION> started_;
};

TEST_F(ProcessCalls, AMissingProgramIsNotFound) {
  PROCESS_INFORMATION info;
  EXPECT_FALSE(Start(dir_ + "\\missing.exe -e", &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Start(dir_ + "\\missing -e -q", &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Start(dir_ + " -e", &info));  // a directory is no program
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ProcessCalls, AFileThatIsNoProgramIsABadFormat) {
  std::string text = MakeFile("text.exe");
  PROCESS_INFORMATION info;
  EXPECT_FALSE(Start(text + " 1", &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(ProcessCalls, TheExitCodeOfAProgramThatEnded) {
  std::string program = Helper("exit_with", "exit_with.exe");
  if (program.empty()) GTEST_SKIP() << "the helper program is not built beside this test";
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start(program + " 3", &info)) << GetLastError();
  EXPECT_NE(info.hProcess, nullptr);
  EXPECT_NE(info.hThread, nullptr);
  EXPECT_NE(info.hProcess, info.hThread);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(info.hProcess), 3u);
  // The name without its extension, and quoted.
  std::string stem = program.substr(0, program.size() - 4);
  ASSERT_TRUE(Start(stem + " 4", &info)) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(info.hProcess), 4u);
  ASSERT_TRUE(Start("\"" + program + "\" 5", &info)) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(info.hProcess), 5u);
}

TEST_F(ProcessCalls, AnUnquotedNameWithBlanksIsFoundByItsPrefixes) {
  MakeDir("a b");
  std::string program = Helper("exit_with", "a b\\exit_with.exe");
  if (program.empty()) GTEST_SKIP() << "the helper program is not built beside this test";
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start(dir_ + "\\a b\\exit_with 6", &info)) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  // Windows hands the command line over as written, so the program's runtime
  // splits the unquoted name and reads "b\exit_with" as its first argument;
  // Wine puts quotes around the name it found.
  WINE_DIVERGENCE_EQ(0u, 6u, ExitCode(info.hProcess));
}

TEST_F(ProcessCalls, AWaitThatTimesOutLeavesTheProcessRunning) {
  std::string program = Helper("never_ends", "never_ends.exe");
  if (program.empty()) GTEST_SKIP() << "the helper program is not built beside this test";
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start(program + " -e", &info)) << GetLastError();
  EXPECT_EQ(ExitCode(info.hProcess), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(info.hThread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ExitCode(info.hProcess), static_cast<DWORD>(STILL_ACTIVE));
  ASSERT_TRUE(TerminateProcess(info.hProcess, 77)) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(info.hProcess), 77u);
  // Windows refuses to end a process that has ended; Wine lets it be.
  SetLastError(0);
  BOOL again = TerminateProcess(info.hProcess, 78);
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), 0u, again ? 0u : GetLastError());
  EXPECT_EQ(ExitCode(info.hProcess), 77u);
}

TEST_F(ProcessCalls, ClosedHandlesAreInvalid) {
  std::string program = Helper("exit_with", "exit_with.exe");
  if (program.empty()) GTEST_SKIP() << "the helper program is not built beside this test";
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start(program + " 0", &info)) << GetLastError();
  started_.clear();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DWORD code = 0xdeadbeef;
  ExpectError(GetExitCodeProcess(info.hProcess, &code), ERROR_INVALID_HANDLE);
  EXPECT_EQ(code, 0xdeadbeefu);
  ExpectError(TerminateProcess(info.hProcess, 1), ERROR_INVALID_HANDLE);
  ExpectError(CloseHandle(info.hProcess), ERROR_INVALID_HANDLE);
}

}  // namespace

// Processes as kernel32 starts them on the emulated machine: how the program
// is found in the command line and how its arguments are split, what the
// child gets (session, streams, environment, directory), the waits on a
// virtual clock, exit codes, and that no child is left a zombie.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/process/spawn_calls.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using emu::k32::ProgramCandidates;
using emu::k32::SplitCommandLine;
using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheRulesOfTheWindowsCRuntime) {
  EXPECT_EQ(SplitCommandLine("pre.exe -e -q"), (Args{"pre.exe", "-e", "-q"}));
  EXPECT_EQ(SplitCommandLine("x \t a  b  "), (Args{"x", "a", "b"}));
  EXPECT_EQ(SplitCommandLine("x \"a b\" c"), (Args{"x", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine("x a\\b a\\\\b"), (Args{"x", "a\\b", "a\\\\b"}));  // no quote: kept as written
  EXPECT_EQ(SplitCommandLine("x a\\\\\"b c\""), (Args{"x", "a\\b c"}));         // 2n: n, and the quote groups
  EXPECT_EQ(SplitCommandLine("x a\\\"b"), (Args{"x", "a\"b"}));                 // 2n+1: n and a literal quote
  EXPECT_EQ(SplitCommandLine("x a\\\\\\\"b"), (Args{"x", "a\\\"b"}));
  EXPECT_EQ(SplitCommandLine("x \"a\"\"b\" c"), (Args{"x", "a\"b", "c"}));  // "" inside quotes
  EXPECT_EQ(SplitCommandLine("x \"\" \"\""), (Args{"x", "", ""}));
  EXPECT_EQ(SplitCommandLine("x \"open ended"), (Args{"x", "open ended"}));
  // The program name: quotes only group, backslashes stay.
  EXPECT_EQ(SplitCommandLine("\"C:\\a b\\x.exe\"rest y"), (Args{"C:\\a b\\x.exerest", "y"}));
  EXPECT_EQ(SplitCommandLine("C:\\dir\\ x"), (Args{"C:\\dir\\", "x"}));
  EXPECT_EQ(SplitCommandLine("C:\\Program Files\\a b.exe 7"), (Args{"C:\\Program", "Files\\a", "b.exe", "7"}));
  EXPECT_EQ(SplitCommandLine(""), (Args{""}));
}

TEST(ProgramCandidates, QuotedNameOrEachPrefixEndingBeforeABlank) {
  EXPECT_EQ(ProgramCandidates("\"C:\\a b\\c.exe\" -e"), (Args{"C:\\a b\\c.exe"}));
  EXPECT_EQ(ProgramCandidates("\"C:\\a b\\c.exe -e"), (Args{"C:\\a b\\c.exe -e"}));
  EXPECT_EQ(
      ProgramCandidates("C:\\Program Files\\a b.exe  x"),
      (Args{"C:\\Program", "C:\\Program Files\\a", "C:\\Program Files\\a b.exe", "C:\\Program Files\\a b.exe  x"}));
  EXPECT_EQ(ProgramCandidates("pre.exe"), (Args{"pre.exe"}));
  EXPECT_EQ(ProgramCandidates(""), Args{});
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = machine_.dir() + "/record.txt";
    setenv("MEVRID_RECORD_FILE", record_.c_str(), 1);
    emu::SetSetting("process-real-wait-ms", "3000");
  }
  void TearDown() override {
    unsetenv("MEVRID_RECORD_FILE");
    // Whatever still runs is ended through its handle, never by a pid that
    // may since belong to another process.
    for (const PROCESS_INFORMATION& info : started_) {
      TerminateProcess(info.hProcess, 1);
      CloseHandle(info.hProcess);
      CloseHandle(info.hThread);
    }
  }
  std::string Host(const std::string& windows_path) { return machine_.HostPath(windows_path); }
  void InstallHelper(const std::string& helper, const std::string& windows_path) {
    ASSERT_TRUE(testsupport::WriteFile(Host(windows_path),
                                       testsupport::ReadFile(testsupport::HelpersDir() + "/" + helper), true))
        << windows_path;
  }
  void InstallScript(const std::string& windows_path, const std::string& body) {
    ASSERT_TRUE(testsupport::WriteFile(Host(windows_path), "#!/bin/sh\n" + body, true));
  }
  // CreateProcessA as the tool calls it; the handles are closed after the test.
  BOOL Start(const std::string& command_line, PROCESS_INFORMATION* info, const char* directory = nullptr) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    std::string line = command_line;
    *info = PROCESS_INFORMATION{};
    SetLastError(0xdeadbeef);
    BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, directory,
                             &startup, info);
    if (ok) started_.push_back(*info);
    return ok;
  }
  DWORD StartError(const std::string& command_line) {
    PROCESS_INFORMATION info;
    EXPECT_FALSE(Start(command_line, &info)) << command_line;
    return GetLastError();
  }
  // Runs to the end and answers the exit code.
  DWORD Run(const std::string& command_line, const char* directory = nullptr) {
    PROCESS_INFORMATION info;
    if (!Start(command_line, &info, directory)) {
      ADD_FAILURE() << command_line << " did not start: " << GetLastError();
      return 0xdeadbeef;
    }
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0xdeadbeef;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    return code;
  }
  std::string Recorded() { return testsupport::ReadFile(record_); }

  testsupport::TestMachine machine_;
  std::string record_;
  std::vector<PROCESS_INFORMATION> started_;
};

TEST_F(ProcessTest, TheProgramIsTakenFromTheCommandLineAsWindowsTakesIt) {
  InstallHelper("record_args", "C:\\Program Files\\a b.exe");
  EXPECT_EQ(Run("C:\\Program Files\\a b.exe -e -q"), 0u);
  EXPECT_EQ(Run("\"C:\\Program Files\\a b.exe\" -b \"x y\""), 0u);
  EXPECT_EQ(Run("c:\\program files\\A B -e"), 0u);  // any case, ".exe" added
  // The runtime of the program splits the whole line, its name included.
  EXPECT_EQ(Recorded(), "Files\\a b.exe -e -q\n-b x y\nfiles\\A B -e\n");
  // A shorter name that exists is taken first, as CreateProcess does.
  InstallHelper("exit_with", "C:\\Program.exe");
  EXPECT_EQ(Run("C:\\Program Files\\a b.exe 5"), 0u);
  EXPECT_EQ(Recorded(), "Files\\a b.exe -e -q\n-b x y\nfiles\\A B -e\n");
}

TEST_F(ProcessTest, BareNamesAreSearchedInTheCurrentThenTheSystemDirectory) {
  InstallHelper("exit_with", "C:\\WINDOWS\\system32\\tool1.exe");
  InstallHelper("exit_with", "C:\\WINDOWS\\tool2.exe");
  EXPECT_EQ(Run("tool1 5"), 5u);
  EXPECT_EQ(Run("TOOL2.EXE 6"), 6u);
  InstallScript("C:\\work\\tool1.exe", "exit 9\n");
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(Host("C:\\work").c_str()), 0);
  EXPECT_EQ(Run("tool1 5"), 9u);
  ASSERT_EQ(chdir(saved), 0);
  // With SystemRoot set empty there is no system directory to search.
  setenv("SystemRoot", "", 1);
  EXPECT_EQ(StartError("tool1 5"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  unsetenv("SystemRoot");
}

TEST_F(ProcessTest, ProgramsThatCannotRunAreRefusedWithWindowsErrors) {
  EXPECT_EQ(StartError("C:\\none\\pre.exe -e"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(StartError(""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(CreateDirectoryA("C:\\dir.exe", nullptr));
  EXPECT_EQ(StartError("C:\\dir.exe"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(testsupport::WriteFile(Host("C:\\text.exe"), "hello\n", true));
  EXPECT_EQ(StartError("C:\\text.exe 1"), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  ASSERT_TRUE(testsupport::WriteFile(Host("C:\\noexec.exe"), "#!/bin/sh\n", false));
  EXPECT_EQ(StartError("C:\\noexec.exe"), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  ASSERT_TRUE(testsupport::WriteFile(Host("C:\\script.exe"), "#!/nonexistent/interpreter\n", true));
  EXPECT_EQ(StartError("C:\\script.exe"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  InstallHelper("exit_with", "C:\\ok.exe");
  PROCESS_INFORMATION info;
  EXPECT_FALSE(Start("C:\\ok.exe", &info, "C:\\no such dir"));
  EXPECT_EQ(GetLastError(), 267u);  // ERROR_DIRECTORY
  ASSERT_TRUE(emu::AddFaultRule("CreateProcessA", "ok.exe", ERROR_NOT_ENOUGH_MEMORY, 1, false));
  EXPECT_EQ(StartError("C:\\ok.exe 3"), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(Run("C:\\ok.exe 3"), 3u);
}

TEST_F(ProcessTest, TheChildRunsAloneWithItsOutputInTheConsoleLog) {
  InstallScript("C:\\talk.exe",
                "echo \"out $1\"\necho \"err $1\" >&2\necho \"machine=$MEVRID_MACHINE\"\npwd -P\n"
                "if read line; then echo \"stdin=$line\"; else echo 'stdin empty'; fi\n"
                "cut -d' ' -f6 /proc/$$/stat\n");
  ASSERT_TRUE(CreateDirectoryA("C:\\Work", nullptr));
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  PROCESS_INFORMATION first, second;
  ASSERT_TRUE(Start("C:\\talk.exe A", &first));
  ASSERT_EQ(WaitForSingleObject(first.hProcess, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(Start("C:\\talk.exe B", &second, "c:\\work"));
  ASSERT_EQ(WaitForSingleObject(second.hProcess, INFINITE), WAIT_OBJECT_0);
  // Each child leads a session of its own, so no terminal of the tool's is shared.
  std::string expected = "out A\nerr A\nmachine=" + machine_.dir() + "\n" + cwd + "\nstdin empty\n" +
                         std::to_string(first.dwProcessId) + "\n" + "out B\nerr B\nmachine=" + machine_.dir() + "\n" +
                         Host("C:\\Work") + "\nstdin empty\n" + std::to_string(second.dwProcessId) + "\n";
  EXPECT_EQ(testsupport::ReadFile(machine_.dir() + "/console.log"), expected);
}

// A start whose preparation fails (a stream, the directory, the session or
// the signals cannot be set up) starts nothing and fails CreateProcessA with
// the error Windows gives a start it cannot set up; the program never runs,
// so it never writes into the tool's own output.
struct SetupFailure {
  const char* name;
  void (*fail)(emu::spawn::HostCalls* calls);
  DWORD error;
};
void PrintTo(const SetupFailure& c, std::ostream* os) { *os << c.name; }

class SpawnSetupFailure : public ProcessTest, public testing::WithParamInterface<SetupFailure> {
 protected:
  void TearDown() override {
    emu::spawn::Calls() = emu::spawn::HostCalls();
    ProcessTest::TearDown();
  }
};

TEST_P(SpawnSetupFailure, StartsNothingAndFailsTheCall) {
  InstallScript("C:\\talk.exe", "echo started > \"$1\"\necho out\n");
  ASSERT_TRUE(CreateDirectoryA("C:\\Work", nullptr));
  const std::string marker = Host("C:\\Work") + "/started";
  GetParam().fail(&emu::spawn::Calls());
  PROCESS_INFORMATION info;
  EXPECT_FALSE(Start("C:\\talk.exe " + marker, &info, "C:\\Work"));
  EXPECT_EQ(GetLastError(), GetParam().error);
  EXPECT_EQ(info.hProcess, nullptr);
  EXPECT_FALSE(testsupport::FileExists(marker));
  // The same start succeeds once the host call does.
  emu::spawn::Calls() = emu::spawn::HostCalls();
  EXPECT_EQ(Run("C:\\talk.exe " + marker, "C:\\Work"), 0u);
  EXPECT_TRUE(testsupport::FileExists(marker));
}

INSTANTIATE_TEST_SUITE_P(
    HostCalls, SpawnSetupFailure,
    testing::Values(
        SetupFailure{
            "FileActionsInit",
            [](emu::spawn::HostCalls* c) { c->file_actions_init = [](posix_spawn_file_actions_t*) { return ENOMEM; }; },
            ERROR_NOT_ENOUGH_MEMORY},
        SetupFailure{
            "Adddup2",
            [](emu::spawn::HostCalls* c) { c->adddup2 = [](posix_spawn_file_actions_t*, int, int) { return EBADF; }; },
            ERROR_INVALID_HANDLE},
        SetupFailure{"Addchdir",
                     [](emu::spawn::HostCalls* c) {
                       c->addchdir = [](posix_spawn_file_actions_t*, const char*) { return ENOMEM; };
                     },
                     ERROR_NOT_ENOUGH_MEMORY},
        SetupFailure{
            "Addclosefrom",
            [](emu::spawn::HostCalls* c) { c->addclosefrom = [](posix_spawn_file_actions_t*, int) { return EINVAL; }; },
            ERROR_INVALID_PARAMETER},
        SetupFailure{"AttrInit",
                     [](emu::spawn::HostCalls* c) { c->attr_init = [](posix_spawnattr_t*) { return ENOMEM; }; },
                     ERROR_NOT_ENOUGH_MEMORY},
        SetupFailure{"Setsigmask",
                     [](emu::spawn::HostCalls* c) {
                       c->setsigmask = [](posix_spawnattr_t*, const sigset_t*) { return EINVAL; };
                     },
                     ERROR_INVALID_PARAMETER},
        SetupFailure{"Setsigdefault",
                     [](emu::spawn::HostCalls* c) {
                       c->setsigdefault = [](posix_spawnattr_t*, const sigset_t*) { return EINVAL; };
                     },
                     ERROR_INVALID_PARAMETER},
        SetupFailure{"Setflags",
                     [](emu::spawn::HostCalls* c) { c->setflags = [](posix_spawnattr_t*, short) { return EINVAL; }; },
                     ERROR_INVALID_PARAMETER}),
    [](const testing::TestParamInfo<SetupFailure>& info) { return std::string(info.param.name); });

TEST_F(ProcessTest, AWaitOnAVirtualClockCountsTheWholeTimeoutForAProcessThatRunsOn) {
  emu::SetSetting("process-real-wait-ms", "30");
  InstallHelper("never_ends", "C:\\never.exe");
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("C:\\never.exe -e", &info));
  const long long start = machine_.NowMs();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(machine_.NowMs(), start);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 120000), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(machine_.NowMs(), start + 120000);
  EXPECT_EQ(WaitForSingleObject(info.hThread, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(machine_.NowMs(), start + 121000);
  // Left running.
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(kill(static_cast<pid_t>(info.dwProcessId), 0), 0);
  ASSERT_TRUE(TerminateProcess(info.hProcess, 7));
  EXPECT_EQ(WaitForSingleObject(info.hThread, 120000), WAIT_OBJECT_0);
  EXPECT_EQ(machine_.NowMs(), start + 121000);
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 7u);
  SetLastError(0);
  EXPECT_FALSE(TerminateProcess(info.hProcess, 8));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ProcessTest, AProcessThatEndsMovesTheVirtualClockByTheRealTimeItTook) {
  InstallHelper("exit_with", "C:\\exit.exe");
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("C:\\exit.exe 3", &info));
  const long long start = machine_.NowMs();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 120000), WAIT_OBJECT_0);
  EXPECT_GE(machine_.NowMs(), start);
  EXPECT_LE(machine_.NowMs(), start + 3000);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 3u);
  // An ended process is signalled at once, every time.
  const long long after = machine_.NowMs();
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 120000), WAIT_OBJECT_0);
  EXPECT_EQ(machine_.NowMs(), after);
}

TEST(ProcessRealClock, WaitsForRealAndTimesOutForReal) {
  testsupport::TestMachine machine(false);
  std::string host = machine.HostPath("C:\\never.exe");
  ASSERT_TRUE(testsupport::WriteFile(host, testsupport::ReadFile(testsupport::HelpersDir() + "/never_ends"), true));
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  PROCESS_INFORMATION info;
  char line[] = "C:\\never.exe";
  ASSERT_TRUE(
      CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &info));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 20), static_cast<DWORD>(WAIT_TIMEOUT));
  kill(static_cast<pid_t>(info.dwProcessId), SIGTERM);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 128u + SIGTERM);  // a signal the tool did not send
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST_F(ProcessTest, ProcessCallsTakeOnlyProcessHandlesAndChildrenAreReaped) {
  const size_t before = emu::admin::OpenKernelHandleCount();
  InstallHelper("never_ends", "C:\\never.exe");
  InstallHelper("exit_with", "C:\\exit.exe");
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("C:\\never.exe", &info));
  EXPECT_EQ(emu::admin::OpenKernelHandleCount(), before + 2);
  DWORD code = 0;
  SetLastError(0);
  EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(TerminateProcess(info.hThread, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // Handles closed while the child runs: it is reaped by a later call once it ends.
  const pid_t pid = static_cast<pid_t>(info.dwProcessId);
  EXPECT_TRUE(CloseHandle(info.hProcess));
  EXPECT_TRUE(CloseHandle(info.hThread));
  started_.clear();
  EXPECT_EQ(emu::admin::OpenKernelHandleCount(), before);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  for (int i = 0; i < 1000; ++i) {  // until the kernel has made it a zombie
    std::string state = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (state.find(") Z") != std::string::npos) break;
    usleep(1000);
  }
  EXPECT_EQ(Run("C:\\exit.exe 0"), 0u);
  const pid_t finished = static_cast<pid_t>(started_.back().dwProcessId);
  errno = 0;
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  // A child that was waited for is gone too.
  EXPECT_EQ(waitpid(finished, nullptr, WNOHANG), -1);
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x7fff0), 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace

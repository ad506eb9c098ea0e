// Who may run under the install lock's holding, held against the emulation
// and against Wine: the holder's own children and their children go ahead;
// a process the holder did not start waits, even one that knows the record
// the holder hands to its children, and so do its children.
#include "platform/install_lock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/conformance/conformance.h"
#include "tests/conformance/scratch.h"

#ifndef _WIN32
#include <unistd.h>
#endif

// Results show by name in failures.
static void PrintTo(LockResult result, std::ostream* os) {
  *os << (result == LockResult::Held ? "Held" : result == LockResult::TimedOut ? "TimedOut" : "Failed");
}

namespace {

// What lock_probe's "try" answers.
constexpr DWORD kMayRun = 0, kMustWait = 1;

void SetInherited(const std::string& record) {
#ifdef _WIN32
  SetEnvironmentVariableA(kInstallLockToken, record.empty() ? nullptr : record.c_str());
#else
  if (record.empty())
    unsetenv(kInstallLockToken);
  else
    setenv(kInstallLockToken, record.c_str(), 1);
#endif
}

// The process's own environment: on Windows the C runtime's copy does not
// follow SetEnvironmentVariableA.
std::string Inherited() {
#ifdef _WIN32
  char record[128];
  const DWORD length = GetEnvironmentVariableA(kInstallLockToken, record, sizeof record);
  return length > 0 && length < sizeof record ? std::string(record, length) : "";
#else
  const char* record = getenv(kInstallLockToken);
  return record ? record : "";
#endif
}

class InstallLockHolding : public conformance::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    probe_ = InstallHelper("lock_probe", "lock_probe.exe");
    nested_ = InstallHelper("run_nested", "run_nested.exe");
#ifdef _WIN32
    probe_program_ = probe_;
    record_file_ = Path("holder.txt");
    Path("holder.txt.part");  // left only by a holder that failed
#else
    // run_nested starts a host program; the holder writes a host file.
    probe_program_ = std::string(MEVRID_TEST_HELPERS_DIR) + "/lock_probe";
    record_file_ = "/tmp/mevrid-lock-holder-" + std::to_string(getpid());
#endif
  }

  void TearDown() override {
    for (PROCESS_INFORMATION& info : holders_) {
      TerminateProcess(info.hProcess, 1);
      WaitForSingleObject(info.hProcess, 5000);
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
    }
#ifndef _WIN32
    remove(record_file_.c_str());
#endif
    SetInherited("");
    ReleaseInstallLock();
    ScratchTest::TearDown();
  }

  bool Start(const std::string& command_line, PROCESS_INFORMATION* info) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    std::string line = command_line;
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                          &startup, info);
  }

  // The exit code of the command line run to its end; 0xdead when it could
  // not be started or did not end.
  DWORD Run(const std::string& command_line) {
    PROCESS_INFORMATION info;
    if (!Start(command_line, &info)) return 0xdead;
    DWORD code = 0xdead;
    if (WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0 || !GetExitCodeProcess(info.hProcess, &code))
      code = 0xdead;
    TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
  }

  // lock_probe's answer, run directly and through run_nested (a
  // pre-processor that runs the tool).
  DWORD Child() { return Run(probe_ + " try"); }
  DWORD Grandchild() { return Run(nested_ + " " + probe_program_ + " try -e"); }

  // Starts a holder of the lock that this process did not start from a
  // holding, and returns the record it hands its children.
  std::string StartHolder() {
    PROCESS_INFORMATION info;
    if (!Start(probe_ + " hold " + record_file_, &info)) return "";
    holders_.push_back(info);
    for (int tries = 0; tries < 1000; ++tries) {
      std::ifstream file(record_file_);
      std::stringstream text;
      text << file.rdbuf();
      if (!text.str().empty()) return text.str();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
  }

  std::string probe_, nested_, probe_program_, record_file_;
  std::vector<PROCESS_INFORMATION> holders_;
};

TEST_F(InstallLockHolding, TheHoldersChildrenRunUnderIt) {
  if (probe_.empty() || nested_.empty()) GTEST_SKIP() << "the helper programs are not built beside this test";
  ASSERT_TRUE(AcquireInstallLock());
  const std::string record = Inherited();
  ASSERT_FALSE(record.empty());
  EXPECT_EQ(Child(), kMayRun);
  EXPECT_EQ(Grandchild(), kMayRun);
  // A child the holder did not hand its record to is no run it waits for.
  SetInherited("");
  EXPECT_EQ(Child(), kMustWait);
  EXPECT_EQ(Grandchild(), kMustWait);
  SetInherited(record);
#ifdef _WIN32
  // The record is there for everyone to read and for no one to rewrite, the
  // holder itself included but through the handle that made it.
  HANDLE section = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kInstallLockRecordName);
  EXPECT_EQ(section, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  if (section) CloseHandle(section);
  section = OpenFileMappingA(FILE_MAP_READ, FALSE, kInstallLockRecordName);
  EXPECT_NE(section, nullptr) << GetLastError();
  if (section) CloseHandle(section);
#endif
  ReleaseInstallLock();
  EXPECT_TRUE(Inherited().empty());
}

TEST_F(InstallLockHolding, KnowingTheRecordIsNotDescendingFromTheHolder) {
  if (probe_.empty() || nested_.empty()) GTEST_SKIP() << "the helper programs are not built beside this test";
  const std::string record = StartHolder();
  ASSERT_FALSE(record.empty()) << "the holder did not take the lock";
  // This process started the holder: it is the holder's parent, not its
  // child, and neither it nor its other children may run beside it.
  SetInherited(record);
  EXPECT_EQ(TakeInstallLock(0), LockResult::TimedOut);
  EXPECT_EQ(Child(), kMustWait);
  EXPECT_EQ(Grandchild(), kMustWait);
  // An ended holder's lock is free, and its record opens nothing.
  TerminateProcess(holders_.back().hProcess, 1);
  ASSERT_EQ(WaitForSingleObject(holders_.back().hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(Child(), kMayRun);
  EXPECT_EQ(TakeInstallLock(0), LockResult::Held);
  EXPECT_NE(Inherited(), record);
}

}  // namespace

// kernel32's process calls over real host processes. A started program runs
// in a session of its own with no terminal, its input empty and its output
// appended to the machine's console log, so nothing it prints mixes with the
// tool's own output. Every child is reaped: when it is waited for, when its
// state is asked, or, once its last handle is closed while it still runs, by
// a later process call.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/posix/admin.h"
#include "platform/posix/kernel/fail.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/kernel/unique_fd.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/fault_check.h"
#include "platform/posix/process/spawn_calls.h"

extern char** environ;

namespace {

using emu::k32::KernelObject;

using emu::Fail;

std::mutex g_stragglers_mutex;
std::vector<pid_t> g_stragglers;  // children whose handles are closed but which still ran

void ReapStragglers() {
  std::lock_guard<std::mutex> lock(g_stragglers_mutex);
  g_stragglers.erase(std::remove_if(g_stragglers.begin(), g_stragglers.end(),
                                    [](pid_t pid) {
                                      pid_t result = waitpid(pid, nullptr, WNOHANG);
                                      return result == pid || (result < 0 && errno == ECHILD);
                                    }),
                     g_stragglers.end());
}

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class ProcessObject : public KernelObject {
 public:
  ProcessObject(pid_t pid, std::string command_line) : pid_(pid), command_line_(std::move(command_line)) {}
  ~ProcessObject() override {
    if (!Poll()) {
      std::lock_guard<std::mutex> lock(g_stragglers_mutex);
      g_stragglers.push_back(pid_);
    }
  }
  std::string Describe() const override { return command_line_; }
  pid_t pid() const { return pid_; }

  // Reaps the child if it has ended, without waiting; true once it has.
  bool Poll() {
    if (!ended_) {
      int status = 0;
      pid_t result = waitpid(pid_, &status, WNOHANG);
      if (result == pid_) Ended(status);
      if (result < 0 && errno == ECHILD) Ended(0);  // reaped elsewhere: its code is lost
    }
    return ended_;
  }

  // Waits up to ms real milliseconds (ms < 0: for as long as it takes) for
  // the child to end; true when it has ended.
  bool WaitReal(int64_t ms) {
    if (Poll() || ms == 0) return ended_;
    const int64_t deadline = ms < 0 ? 0 : MonotonicMs() + ms;
    // Through syscall: this glibc's <sys/pidfd.h> cannot be used from C++.
    const emu::UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)));
    if (pidfd) {
      for (;;) {
        int timeout = ms < 0 ? -1 : static_cast<int>(std::max<int64_t>(0, deadline - MonotonicMs()));
        struct pollfd fd = {pidfd.get(), POLLIN, 0};
        if (poll(&fd, 1, timeout) >= 0 || errno != EINTR) break;
      }
      return Poll();
    }
    // Without pidfds: look again after a pause that grows up to 20 ms.
    for (int64_t pause_ms = 1; !Poll(); pause_ms = std::min<int64_t>(pause_ms * 2, 20)) {
      int64_t left = ms < 0 ? pause_ms : deadline - MonotonicMs();
      if (left <= 0) return false;
      struct timespec pause = {0, static_cast<long>(std::min(pause_ms, left)) * 1000000L};
      nanosleep(&pause, nullptr);
    }
    return true;
  }

  bool Terminate(DWORD exit_code) {
    if (Poll()) return false;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    Ended(status);
    terminated_ = true;
    terminate_code_ = exit_code;
    return true;
  }

  // The exit code as Windows reports it. A host process ended by a signal
  // it was not sent by TerminateProcess has no Windows code of its own; it
  // reports 128 plus the signal, as a POSIX shell does.
  DWORD ExitCode() const {
    if (terminated_) return terminate_code_;
    if (WIFEXITED(status_)) return static_cast<DWORD>(WEXITSTATUS(status_));
    if (WIFSIGNALED(status_)) return 128u + static_cast<DWORD>(WTERMSIG(status_));
    return 0;
  }

 private:
  void Ended(int status) {
    ended_ = true;
    status_ = status;
  }

  pid_t pid_;
  std::string command_line_;
  bool ended_ = false;
  int status_ = 0;
  bool terminated_ = false;
  DWORD terminate_code_ = 0;
};

// The one thread of an emulated process: waiting for it is waiting for the
// process, but the process calls do not take it.
class ThreadObject : public KernelObject {
 public:
  explicit ThreadObject(std::shared_ptr<ProcessObject> process) : process_(std::move(process)) {}
  std::string Describe() const override { return process_->Describe(); }
  const std::shared_ptr<ProcessObject>& process() const { return process_; }

 private:
  std::shared_ptr<ProcessObject> process_;
};

std::shared_ptr<ProcessObject> WaitableProcess(const std::shared_ptr<KernelObject>& object) {
  if (auto thread = std::dynamic_pointer_cast<ThreadObject>(object)) return thread->process();
  return std::dynamic_pointer_cast<ProcessObject>(object);
}

// The child's environment: the given block ("A=1\0B=2\0\0") or the tool's
// own, and in either case the machine the tool runs on, so that a child
// that is itself an emulated program shares it.
std::vector<std::string> ChildEnvironment(const char* block) {
  std::vector<std::string> entries;
  if (block) {
    for (const char* entry = block; *entry; entry += strlen(entry) + 1) entries.emplace_back(entry);
  } else {
    for (char** entry = environ; entry && *entry; ++entry) entries.emplace_back(*entry);
  }
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const std::string& e) { return e.compare(0, 15, "MEVRID_MACHINE=") == 0; }),
                entries.end());
  entries.push_back("MEVRID_MACHINE=" + emu::Current().dir);
  return entries;
}

// A descriptor of at least 3, so that setting up the child's standard
// streams never overwrites another one it needs.
emu::UniqueFd AboveStandardStreams(emu::UniqueFd fd) {
  if (!fd || fd.get() > 2) return fd;
  return emu::UniqueFd(fcntl(fd.get(), F_DUPFD_CLOEXEC, 3));
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// What a child is started with: its streams, directory and the closing of
// every other descriptor, its session and signals. Each preparing call is
// checked: a stream left as the tool's would mix the child's output into
// it. Released on every path.
class SpawnSetup {
 public:
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;

  SpawnSetup() = default;
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    if (attributes_made_) posix_spawnattr_destroy(&attributes);
    if (actions_made_) posix_spawn_file_actions_destroy(&actions);
  }

  // 0, or the error number of the first call that failed.
  int Prepare(int null_fd, int log_fd, const std::string& cwd) {
    const emu::spawn::HostCalls& host = emu::spawn::Calls();
    if (int error = host.file_actions_init(&actions)) return error;
    actions_made_ = true;
    if (int error = host.adddup2(&actions, null_fd, 0)) return error;
    if (int error = host.adddup2(&actions, log_fd, 1)) return error;
    if (int error = host.adddup2(&actions, log_fd, 2)) return error;
    if (!cwd.empty())
      if (int error = host.addchdir(&actions, cwd.c_str())) return error;
    // Nothing of the tool's (its database above all) reaches the program.
    if (int error = host.addclosefrom(&actions, 3)) return error;
    if (int error = host.attr_init(&attributes)) return error;
    attributes_made_ = true;
    // A session of its own, every signal unblocked, and the two signals the
    // tool may have set aside back to their defaults.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    if (int error = host.setsigmask(&attributes, &none)) return error;
    if (int error = host.setsigdefault(&attributes, &defaults)) return error;
    return host.setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }

 private:
  bool actions_made_ = false;
  bool attributes_made_ = false;
};

// A start that could not be prepared fails as CreateProcessA does when it
// cannot set the new process up: out of memory, or a handle it cannot pass.
DWORD SetupError(int error) {
  return error == EBADF ? static_cast<DWORD>(ERROR_INVALID_HANDLE) : emu::k32::ErrorFromErrno(error, "");
}

// Starts the program with posix_spawn: the host's vfork-style start copies
// none of the tool's memory, so starting a pre-processor costs what starting
// any program costs, however large the tool has grown. Every step in the
// child (the new session, the streams, the directory, the exec) reports its
// failure back before this returns.
DWORD Spawn(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& cwd, pid_t* pid) {
  std::vector<char*> argv, envp;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const std::string log = emu::Current().dir + "/console.log";
  emu::UniqueFd null_fd = AboveStandardStreams(emu::UniqueFd(open("/dev/null", O_RDONLY | O_CLOEXEC)));
  emu::UniqueFd log_fd =
      AboveStandardStreams(emu::UniqueFd(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)));
  if (!null_fd || !log_fd) return emu::k32::ErrorFromErrno(errno, log);
  SpawnSetup setup;
  if (int failed = setup.Prepare(null_fd.get(), log_fd.get(), cwd)) return SetupError(failed);
  pid_t child = 0;
  int child_error = posix_spawn(&child, program.c_str(), &setup.actions, &setup.attributes, argv.data(), envp.data());
  null_fd.reset();
  log_fd.reset();
  if (child_error == 0) {
    *pid = child;
    return 0;
  }
  // The directory was checked before; one that cannot be entered now is
  // still the directory's fault, not the program's.
  if (!cwd.empty() && !IsDirectory(cwd)) child_error = -1;
  switch (child_error) {
    case -1:
      return ERROR_DIRECTORY;
    case ENOEXEC:
      return ERROR_BAD_EXE_FORMAT;  // not a program the host can run
    case EACCES:
    case EPERM: {
      // Files written through the emulated calls never get an execute bit:
      // such a file is no program, as Windows finds a file that is not an
      // image. Only a program the host itself refuses is access denied.
      struct stat st;
      if (stat(program.c_str(), &st) == 0 && !(st.st_mode & 0111)) return ERROR_BAD_EXE_FORMAT;
      return ERROR_ACCESS_DENIED;
    }
    case ENOENT:  // a script whose interpreter is missing
      return ERROR_FILE_NOT_FOUND;
    default:
      return emu::k32::ErrorFromErrno(child_error, program);
  }
}

}  // namespace

namespace emu::spawn {

HostCalls& Calls() {
  static HostCalls calls;
  return calls;
}

}  // namespace emu::spawn

void GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo) {
  // Traced like every call; nothing can make it fail.
  emu::CheckFault("GetStartupInfoA", "");
  if (!lpStartupInfo) return;
  memset(lpStartupInfo, 0, sizeof *lpStartupInfo);
  lpStartupInfo->cb = sizeof *lpStartupInfo;
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation) {
  // Without a command line the application name is the command line.
  const std::string command_line = lpCommandLine ? lpCommandLine : (lpApplicationName ? lpApplicationName : "");
  if (DWORD fault = emu::CheckFault("CreateProcessA", command_line)) return Fail(fault);
  if (!lpProcessInformation || (!lpApplicationName && !lpCommandLine)) return Fail(ERROR_INVALID_PARAMETER);
  ReapStragglers();
  std::string program;
  DWORD error = 0;
  if (lpApplicationName) {
    // Taken as given: no search and no extension added.
    if (!emu::k32::HostPathForCall(lpApplicationName, &program, &error)) return Fail(error);
    struct stat st;
    if (stat(program.c_str(), &st) != 0) return Fail(emu::k32::ErrorFromErrno(errno, program));
    if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  } else {
    bool found = false;
    for (const std::string& candidate : emu::k32::ProgramCandidates(command_line))
      if ((found = emu::k32::ResolveProgram(candidate, &program))) break;
    if (!found) return Fail(ERROR_FILE_NOT_FOUND);
  }
  std::string cwd;
  if (lpCurrentDirectory) {
    struct stat st;
    if (!emu::k32::HostPathForCall(lpCurrentDirectory, &cwd, &error) || stat(cwd.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
      return Fail(ERROR_DIRECTORY);
  }
  pid_t pid = 0;
  error = Spawn(program, emu::k32::SplitCommandLine(command_line),
                ChildEnvironment(static_cast<const char*>(lpEnvironment)), cwd, &pid);
  if (error) return Fail(error);
  auto process = std::make_shared<ProcessObject>(pid, command_line);
  lpProcessInformation->hProcess = emu::k32::AddHandle(process);
  lpProcessInformation->hThread = emu::k32::AddHandle(std::make_shared<ThreadObject>(process));
  // The host has one number for a process and its first thread.
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<KernelObject> object = emu::k32::FindHandle(hHandle);
  if (DWORD fault = emu::CheckFault("WaitForSingleObject", object ? object->Describe() : "")) {
    emu::SetLastErrorCode(fault);
    return WAIT_FAILED;
  }
  if (!object) {
    emu::SetLastErrorCode(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::shared_ptr<ProcessObject> process = WaitableProcess(object);
  if (!process) return WAIT_OBJECT_0;  // a file handle is always signalled
  ReapStragglers();
  if (process->Poll()) return WAIT_OBJECT_0;
  if (dwMilliseconds == 0) return WAIT_TIMEOUT;
  const bool forever = dwMilliseconds == INFINITE;
  if (!emu::IsVirtualClock()) return process->WaitReal(forever ? -1 : dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  // On a virtual clock a real process still takes real time. The wait lasts
  // at most the machine's process-real-wait-ms of real time: a process that
  // ends within it moves the clock by the time it really took (rounded to
  // the millisecond); one that is still running then has used up the whole
  // timeout, which moves the clock by all of it. An infinite wait stays
  // infinite, as on Windows.
  int64_t real_limit = strtoll(emu::GetSetting("process-real-wait-ms", "3000").c_str(), nullptr, 10);
  real_limit = forever ? -1 : std::clamp<int64_t>(real_limit, 0, dwMilliseconds);
  auto start = std::chrono::steady_clock::now();
  bool ended = process->WaitReal(real_limit);
  if (!ended) {
    emu::AdvanceClock(dwMilliseconds);
    return WAIT_TIMEOUT;
  }
  auto waited_us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  int64_t waited_ms = (waited_us.count() + 500) / 1000;
  emu::AdvanceClock(forever ? waited_ms : std::min<int64_t>(waited_ms, dwMilliseconds));
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto process = emu::k32::FindHandleOf<ProcessObject>(hProcess);
  if (DWORD fault = emu::CheckFault("GetExitCodeProcess", process ? process->Describe() : "")) return Fail(fault);
  if (!process) return Fail(ERROR_INVALID_HANDLE);
  if (!lpExitCode) return Fail(ERROR_INVALID_PARAMETER);
  *lpExitCode = process->Poll() ? process->ExitCode() : STILL_ACTIVE;
  return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto process = emu::k32::FindHandleOf<ProcessObject>(hProcess);
  if (DWORD fault = emu::CheckFault("TerminateProcess", process ? process->Describe() : "")) return Fail(fault);
  if (!process) return Fail(ERROR_INVALID_HANDLE);
  // Windows refuses to terminate a process that has already ended.
  if (!process->Terminate(uExitCode)) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

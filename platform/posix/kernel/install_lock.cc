// The install lock of an emulated machine: an exclusive flock on a file in
// the machine's directory. The kernel drops it with the process, so a killed
// holder never blocks the machine, as an abandoned mutex does not on Windows.
// It consults the fault rules under the name of the Windows call that opens
// the named mutex there (CreateMutexA), so a failure to lock can be tested.
//
// The holder writes its token ("pid:nonce") into the lock file once it has
// the lock. A run whose inherited token is the one in the file while the
// lock is taken runs under that holder: the file names the present holder
// whatever file system it lives on, and a token left by an earlier holder
// never matches, as every holder draws a new nonce.
#include "platform/install_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>

#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/kernel/unique_fd.h"
#include "platform/posix/machine/clock.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/fault_check.h"

namespace {

emu::UniqueFd g_lock_fd;

std::string NewToken() {
  std::random_device entropy;
  const unsigned long long nonce = (static_cast<unsigned long long>(entropy()) << 32) ^ entropy();
  return std::to_string(getpid()) + ":" + std::to_string(nonce);
}

// The token the present holder wrote; empty when the file holds none.
std::string HolderToken(int fd) {
  char text[64];
  const ssize_t length = pread(fd, text, sizeof text, 0);
  if (length <= 0 || length == static_cast<ssize_t>(sizeof text)) return std::string();
  return std::string(text, static_cast<size_t>(length));
}

bool WriteToken(int fd, const std::string& token) {
  return ftruncate(fd, 0) == 0 &&
         pwrite(fd, token.data(), token.size(), 0) == static_cast<ssize_t>(token.size());
}

// Called while another holds the lock: the inherited token is that holder's.
bool RunsUnderHolder(int fd) {
  const char* token = getenv(kInstallLockToken);
  if (!token || !*token) return false;
  return HolderToken(fd) == token;
}

// The wait for the holder to let go: without end, or polled on the
// machine's clock up to the bound. On a virtual clock no other run can
// move in the meantime, so the whole bound passes in one step.
bool WaitForLock(int fd, int timeout_seconds) {
  if (timeout_seconds < 0) {
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }
  const int64_t deadline = emu::NowMs() + static_cast<int64_t>(timeout_seconds) * 1000;
  for (;;) {
    const int64_t left = deadline - emu::NowMs();
    if (left <= 0) return false;
    Sleep(static_cast<DWORD>(emu::IsVirtualClock() || left < 100 ? left : 100));
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
  }
}

// A lock that could not be taken leaves its error as the failed call's.
LockResult LockFailed(DWORD error) {
  emu::SetLastErrorCode(error);
  return LockResult::Failed;
}

}  // namespace

bool AcquireInstallLock() { return TakeInstallLock(-1) == LockResult::Held; }

LockResult TakeInstallLock(int timeout_seconds, const std::function<void()>& on_wait) {
  if (g_lock_fd) return LockResult::Held;
  const std::string path = emu::Current().dir + "/" + kInstallLockFileName;
  emu::UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd) return LockFailed(emu::k32::ErrorFromErrno(errno, path));
  if (DWORD fault = emu::CheckFault("CreateMutexA", kInstallLockName)) return LockFailed(fault);
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return LockFailed(emu::k32::ErrorFromErrno(errno, path));
    if (RunsUnderHolder(fd.get())) return LockResult::Held;
    if (on_wait) on_wait();
    if (!WaitForLock(fd.get(), timeout_seconds))
      return timeout_seconds >= 0 ? LockResult::TimedOut : LockResult::Failed;
  }
  const std::string token = NewToken();
  if (!WriteToken(fd.get(), token)) return LockResult::Failed;  // closing the file drops the lock
  g_lock_fd = std::move(fd);
  setenv(kInstallLockToken, token.c_str(), 1);
  // No other run copies now: what a killed copy left half-written goes.
  emu::RemoveStaleWindowsCopies();
  return LockResult::Held;
}

void ReleaseInstallLock() {
  if (!g_lock_fd) return;
  unsetenv(kInstallLockToken);
  // A holder that lets go empties its token, so only a live holder's token
  // (or a killed one's, whose process is gone) is ever found in the file.
  [[maybe_unused]] const int emptied = ftruncate(g_lock_fd.get(), 0);
  flock(g_lock_fd.get(), LOCK_UN);
  g_lock_fd.reset();
}

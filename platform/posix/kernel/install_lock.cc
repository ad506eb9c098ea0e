// The install lock of an emulated machine: an exclusive flock on a file in
// the machine's directory. The kernel drops it with the process, so a killed
// holder never blocks the machine, as an abandoned mutex does not on Windows.
// It consults the fault rules under the name of the Windows call that opens
// the named mutex there (CreateMutexA), so a failure to lock can be tested.
//
// The holder writes its record (see install_lock_holder.h) into the lock
// file once it has the lock, and empties it as it lets go. The record is no
// secret: a run that finds the lock taken goes ahead only when it descends
// from the recorded holder and inherited that holding's record.
#include "platform/install_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>

#include "platform/install_lock_holder.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/kernel/lock_wait.h"
#include "platform/posix/kernel/process_stamps.h"
#include "platform/posix/kernel/unique_fd.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/fault_check.h"

namespace {

emu::UniqueFd g_lock_fd;

// This holding's record; empty when this process cannot stamp itself.
std::string NewRecord() {
  ProcessStamp self;
  if (!emu::OwnProcessStamp(&self)) return std::string();
  std::random_device entropy;
  return HolderRecord(self, (static_cast<uint64_t>(entropy()) << 32) ^ entropy());
}

// The record the present holder wrote; empty when the file holds none.
std::string HolderRecordIn(int fd) {
  char text[96];
  const ssize_t length = pread(fd, text, sizeof text, 0);
  if (length <= 0 || length == static_cast<ssize_t>(sizeof text)) return std::string();
  return std::string(text, static_cast<size_t>(length));
}

bool WriteRecord(int fd, const std::string& record) {
  return ftruncate(fd, 0) == 0 &&
         pwrite(fd, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size());
}

// Called while another holds the lock: this run descends from that holder
// and inherited its holding's record.
bool RunsUnderHolder(int fd) {
  const char* inherited = getenv(kInstallLockToken);
  ProcessStamp self;
  if (!inherited || !*inherited || !emu::OwnProcessStamp(&self)) return false;
  return RunsUnderHolding(inherited, HolderRecordIn(fd), self, emu::ParentProcessStamp);
}

bool WaitForLock(int fd, int timeout_seconds) {
  if (timeout_seconds >= 0) return emu::WaitForLockWithin(fd, timeout_seconds, emu::HostRealClock());
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
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
  const std::string record = NewRecord();
  // Closing the file drops the lock.
  if (record.empty() || !WriteRecord(fd.get(), record)) return LockFailed(emu::k32::ErrorFromErrno(errno, path));
  g_lock_fd = std::move(fd);
  setenv(kInstallLockToken, record.c_str(), 1);
  // No other run copies now: what a killed copy left half-written goes.
  emu::RemoveStaleWindowsCopies();
  return LockResult::Held;
}

void ReleaseInstallLock() {
  if (!g_lock_fd) return;
  unsetenv(kInstallLockToken);
  // A holder that lets go empties its record, so only a live holder's (or a
  // killed one's, whose process is gone) is ever found in the file.
  [[maybe_unused]] const int emptied = ftruncate(g_lock_fd.get(), 0);
  flock(g_lock_fd.get(), LOCK_UN);
  g_lock_fd.reset();
}

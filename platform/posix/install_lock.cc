// The install lock of an emulated machine: an exclusive flock on a file in
// the machine's directory. The kernel drops it with the process, so a killed
// holder never blocks the machine, as an abandoned mutex does not on Windows.
// It consults the fault rules under the name of the Windows call that opens
// the named mutex there (CreateMutexA), so a failure to lock can be tested.
#include "platform/install_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/machine.h"

namespace {

// The name the lock has on Windows, which fault rules match.
constexpr char kMutexName[] = "Global\\MevridKotaInstall";

int g_lock_fd = -1;

// True when the process holds an exclusive flock on the open file fd names:
// /proc/locks lists every lock with its holder and the file's device and
// inode ("1: FLOCK  ADVISORY  WRITE 4242 fd:01:131 0 EOF"; waiters begin
// with "->" and do not count).
bool HoldsLock(pid_t pid, int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  FILE* locks = fopen("/proc/locks", "re");
  if (!locks) return kill(pid, 0) == 0;  // no lock table: a live holder is trusted
  bool held = false;
  char line[256];
  while (!held && fgets(line, sizeof line, locks)) {
    int id = 0;
    char kind[16], mode[16], access[16];
    long holder = 0;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (sscanf(line, "%d: %15s %15s %15s %ld %x:%x:%llu", &id, kind, mode, access, &holder, &major, &minor, &inode) ==
            8 &&
        strcmp(kind, "FLOCK") == 0 && strcmp(access, "WRITE") == 0 && holder == pid && inode == st.st_ino &&
        makedev(major, minor) == st.st_dev) {
      held = true;
    }
  }
  fclose(locks);
  return held;
}

// The inherited token names another process that holds the lock now.
bool RunsUnderHolder(int fd) {
  const char* token = getenv(kInstallLockToken);
  if (!token || !*token) return false;
  char* end = nullptr;
  long pid = strtol(token, &end, 10);
  if (*end != '\0' || pid <= 0 || pid == getpid()) return false;
  return HoldsLock(static_cast<pid_t>(pid), fd);
}

bool Fail(Flag verbose, int fd) {
  if (fd >= 0) close(fd);
  if (verbose) ConsolePrint("\tERROR: Could not gain exclusive access to the KOTA component.\n");
  return false;
}

}  // namespace

bool AcquireInstallLock(Flag verbose) {
  if (g_lock_fd >= 0) return true;
  const std::string path = emu::Current().dir + "/install.lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 || emu::CheckFault("CreateMutexA", kMutexName) != 0) return Fail(verbose, fd);
  if (RunsUnderHolder(fd)) {
    close(fd);
    return true;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return Fail(verbose, fd);
    if (verbose) ConsolePrint("Waiting for another installation of the KOTA component to finish.\n");
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return Fail(verbose, fd);
    }
  }
  g_lock_fd = fd;
  setenv(kInstallLockToken, std::to_string(getpid()).c_str(), 1);
  return true;
}

void ReleaseInstallLock() {
  if (g_lock_fd < 0) return;
  unsetenv(kInstallLockToken);
  flock(g_lock_fd, LOCK_UN);
  close(g_lock_fd);
  g_lock_fd = -1;
}

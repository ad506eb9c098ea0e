// Whether the install lock of an emulated machine is held, asked without
// taking it: the kernel's table of locks (/proc/locks) names the lock file's
// inode while a run holds its flock. Taking even a shared lock for a moment
// would make a run that tries the lock just then say that it waits.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/install_lock.h"
#include "platform/install_lock_holder.h"
#include "platform/posix/kernel/process_stamps.h"
#include "platform/posix/kernel/unique_fd.h"
#include "platform/posix/machine/current_machine.h"

namespace {

enum class Answer { Held, Free, Unknown };

// A line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF",
// the device as hexadecimal major:minor and the inode in decimal.
Answer FromLockTable(const struct stat& file) {
  FILE* table = fopen("/proc/locks", "re");
  if (!table) return Answer::Unknown;
  Answer answer = Answer::Free;
  char line[256];
  while (fgets(line, sizeof line, table)) {
    char kind[16], mode[16], access[16];
    long pid = 0;
    unsigned int major_number = 0, minor_number = 0;
    unsigned long long inode = 0;
    if (sscanf(line, "%*[^:]: %15s %15s %15s %ld %x:%x:%llu", kind, mode, access, &pid, &major_number,
               &minor_number, &inode) != 7)
      continue;
    if (std::string(kind) != "FLOCK" || inode != static_cast<unsigned long long>(file.st_ino)) continue;
    if (major_number == major(file.st_dev) && minor_number == minor(file.st_dev)) {
      answer = Answer::Held;
      break;
    }
  }
  fclose(table);
  return answer;
}

// The record a holder writes into the lock file names a running process
// only while that process holds the lock: it empties the file when it lets
// go, and a killed holder's process is gone (its id, if reused, names a
// process created later). This answers where the kernel's table names the
// file by another device than stat() does (as overlay and some sandboxed
// file systems do).
bool HeldByRunningHolder(int fd) {
  char text[96];
  const ssize_t length = pread(fd, text, sizeof text - 1, 0);
  if (length <= 0) return false;
  ProcessStamp holder;
  return RecordedHolder(std::string(text, static_cast<size_t>(length)), &holder) && emu::IsRunning(holder);
}

}  // namespace

bool IsInstallLockHeldNow() {
  const std::string path = emu::Current().dir + "/" + kInstallLockFileName;
  // Opened for reading only and never created: no file, no holder.
  const emu::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  struct stat file;
  Answer answer = fstat(fd.get(), &file) == 0 ? FromLockTable(file) : Answer::Unknown;
  if (answer == Answer::Unknown) {
    // Without the table, a probe that never blocks: a shared lock, let go at
    // once, conflicts only with the holder's exclusive one.
    if (flock(fd.get(), LOCK_SH | LOCK_NB) == 0) {
      flock(fd.get(), LOCK_UN);
      answer = Answer::Free;
    } else {
      answer = errno == EWOULDBLOCK ? Answer::Held : Answer::Free;
    }
  }
  if (answer != Answer::Held && HeldByRunningHolder(fd.get())) answer = Answer::Held;
  return answer == Answer::Held;
}

#include "platform/posix/kernel/process_alive.h"

#include <signal.h>

#include <cerrno>
#include <string>

#include "platform/posix/kernel/process_stamps.h"

namespace emu {

bool ProcessAlive(int64_t pid) {
  if (pid <= 0 || pid > INT32_MAX) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // Z: ended, not reaped; X: being torn down.
  // An unreadable entry leaves the answer to kill().
  ProcStat stat;
  if (!ReadProcStat(std::to_string(pid), &stat)) return true;
  return stat.state != 'Z' && stat.state != 'X';
}

}  // namespace emu

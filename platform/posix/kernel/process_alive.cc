#include "platform/posix/kernel/process_alive.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace emu {

namespace {

// The state letter of /proc/<pid>/stat ("pid (comm) S ..."); the name may
// hold blanks and parentheses, the last ')' ends it. 0 when unreadable.
char ProcState(int64_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* stat = fopen(path.c_str(), "re");
  if (!stat) return 0;
  char line[512];
  const size_t got = fread(line, 1, sizeof line - 1, stat);
  fclose(stat);
  line[got] = '\0';
  const char* close = strrchr(line, ')');
  return close && close[1] == ' ' ? close[2] : 0;
}

}  // namespace

bool ProcessAlive(int64_t pid) {
  if (pid <= 0 || pid > INT32_MAX) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // Z: ended, not reaped; X: being torn down.
  const char state = ProcState(pid);
  return state != 'Z' && state != 'X';
}

}  // namespace emu

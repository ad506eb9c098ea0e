// Takes the install lock as the tool does, for the tests of who may run under
// whose holding (on the emulation it works on the machine MEVRID_MACHINE
// names):
//   lock_probe try        tries the lock without waiting: exits 0 when it is
//                         this process's (free, or held by an ancestor it may
//                         run under), 1 when it would have to wait, 2 when it
//                         cannot be taken at all
//   lock_probe hold FILE  takes the lock, writes the record it inherits to
//                         its children into FILE (a host path), and keeps the
//                         lock until it is ended
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/install_lock.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "try") == 0) {
    switch (TakeInstallLock(0)) {
      case LockResult::Held:
        ReleaseInstallLock();
        return 0;
      case LockResult::TimedOut:
        return 1;
      case LockResult::Failed:
        return 2;
    }
  }
  if (argc == 3 && strcmp(argv[1], "hold") == 0) {
    if (!AcquireInstallLock()) return 2;
    const char* record = getenv(kInstallLockToken);
#ifdef _WIN32
    // The C runtime's copy of the environment does not follow the lock's.
    char own[128];
    const DWORD length = GetEnvironmentVariableA(kInstallLockToken, own, sizeof own);
    record = length > 0 && length < sizeof own ? own : nullptr;
#endif
    // Written whole under another name first, so a reader never sees half.
    const std::string part = std::string(argv[2]) + ".part";
    FILE* file = fopen(part.c_str(), "w");
    if (!file || !record || fputs(record, file) < 0 || fclose(file) != 0 || rename(part.c_str(), argv[2]) != 0)
      return 3;
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  return 4;
}

#include "platform/posix/kernel/lock_wait.h"

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace emu {

const RealClock& HostRealClock() {
  static const RealClock clock{
      [] {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
      },
      [](int64_t ms) {
        struct timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
      }};
  return clock;
}

bool WaitForLockWithin(int fd, int timeout_seconds, const RealClock& clock) {
  const int64_t deadline = clock.NowMs() + static_cast<int64_t>(timeout_seconds) * 1000;
  for (;;) {
    const int64_t left = deadline - clock.NowMs();
    if (left <= 0) return false;
    clock.SleepMs(std::min(left, kLockPollMs));
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
  }
}

}  // namespace emu

// The bounded wait for the install lock of an emulated machine. Its holder is
// a real process, so the bound is counted in real seconds on every machine,
// a virtual-clock one included, and the machine's clock is never moved by
// it. The real clock is a parameter so tests can count the polls without
// waiting for them.
#pragma once

#include <cstdint>
#include <functional>

namespace emu {

struct RealClock {
  std::function<int64_t()> NowMs;          // monotonic
  std::function<void(int64_t ms)> SleepMs;
};

// The host's monotonic clock and sleep.
const RealClock& HostRealClock();

// How often the wait tries the lock.
inline constexpr int64_t kLockPollMs = 100;

// Tries the exclusive flock on fd every kLockPollMs (the last try at the
// bound itself) until it is taken (true) or timeout_seconds of real time have
// passed, or the lock fails otherwise (false).
bool WaitForLockWithin(int fd, int timeout_seconds, const RealClock& clock);

}  // namespace emu

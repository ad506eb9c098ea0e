// The calling thread's last error, and Sleep over the machine's clock.
#include <time.h>

#include <cerrno>

#include "platform/posix/admin.h"
#include "platform/posix/internal.h"

namespace {

// Per thread, as on Windows: a failure on one thread never shows in another.
thread_local DWORD g_last_error = ERROR_SUCCESS;

}  // namespace

namespace emu {

void SetLastErrorCode(DWORD code) { g_last_error = code; }

}  // namespace emu

DWORD GetLastError(void) { return g_last_error; }

void SetLastError(DWORD dwErrCode) { g_last_error = dwErrCode; }

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) return;
  // On a virtual clock the wait is over as soon as machine time has moved:
  // a two-minute stop runs in milliseconds and still prints every dot.
  if (emu::IsVirtualClock()) {
    emu::AdvanceClock(dwMilliseconds);
    return;
  }
  struct timespec wait = {static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

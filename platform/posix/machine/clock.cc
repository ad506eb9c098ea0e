// The machine's clock: the wall clock, or a virtual one kept as a setting.
#include "platform/posix/admin.h"

#include <cstdlib>
#include <ctime>

#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/database.h"

namespace emu {

bool IsVirtualClock() { return GetSetting("clock") == "virtual"; }

int64_t NowMs() {
  if (IsVirtualClock())
    return strtoll(GetSetting("virtual-now-ms", "0").c_str(), nullptr, 10) + Current().clock_ahead_ms;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void AdvanceClock(int64_t ms) {
  // A reader of the machine moves only its own view of the clock.
  if (MachineIsReadOnly()) {
    Current().clock_ahead_ms += ms;
    return;
  }
  Statement st(Db(), "UPDATE settings SET value=CAST(CAST(value AS INTEGER)+?1 AS TEXT) WHERE name='virtual-now-ms'");
  st.Bind(1, ms);
  if (st.Run()) DiscountLastChanges();
}

}  // namespace emu

// The machine's clock, real or virtual. On a virtual clock time only moves
// by Sleep (or AdvanceClock), which then returns at once; on a real clock it
// is the wall clock.
#pragma once

#include <cstdint>

namespace emu {

bool IsVirtualClock();
int64_t NowMs();
void AdvanceClock(int64_t ms);

}  // namespace emu

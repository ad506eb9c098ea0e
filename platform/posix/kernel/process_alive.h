// Whether a host process still runs, asked by the parts of the emulation
// that keep a process id (copies in progress, service handles).
#pragma once

#include <cstdint>

namespace emu {

// A process that has ended but is not yet reaped (a zombie: its parent has
// not waited for it) has ended, as a Windows process that exited has,
// however long a handle to it stays open.
bool ProcessAlive(int64_t pid);

}  // namespace emu

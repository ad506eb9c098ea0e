// Processes of the host stamped with their creation, read from /proc: the
// kernel keeps every process's parent and start time there, so no process
// can claim another's ancestry.
#pragma once

#include <cstdint>
#include <string>

#include "platform/install_lock_holder.h"

namespace emu {

// The fields of /proc/<pid>/stat the emulation reads: the state letter (Z an
// ended process not yet reaped), the parent, the start in clock ticks since
// boot. `pid` may be "self".
struct ProcStat {
  char state = 0;
  uint64_t parent = 0;
  uint64_t started = 0;
};
bool ReadProcStat(const std::string& pid, ProcStat* fields);

// This process, stamped.
bool OwnProcessStamp(ProcessStamp* self);
// Whether the stamped process is still running (its id names no later one).
bool IsRunning(const ProcessStamp& process);
// The parent of a running process; false when the child has ended (or its id
// names a later process now) or the parent cannot be read.
bool ParentProcessStamp(const ProcessStamp& child, ProcessStamp* parent);

}  // namespace emu

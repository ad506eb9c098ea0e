// Processes of the host stamped with their creation, read from /proc: the
// kernel keeps every process's parent and start time there, so no process
// can claim another's ancestry.
#pragma once

#include "platform/install_lock_holder.h"

namespace emu {

// This process, stamped.
bool OwnProcessStamp(ProcessStamp* self);
// Whether the stamped process is still running (its id names no later one).
bool IsRunning(const ProcessStamp& process);
// The parent of a running process; false when the child has ended (or its id
// names a later process now) or the parent cannot be read.
bool ParentProcessStamp(const ProcessStamp& child, ProcessStamp* parent);

}  // namespace emu

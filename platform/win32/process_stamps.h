// Processes stamped with their creation time on Windows: the parent links
// come from a Toolhelp snapshot of the system's process table, the creation
// times from GetProcessTimes, so no process can claim another's ancestry.
#pragma once

#include "platform/install_lock_holder.h"

// This process, stamped.
bool OwnProcessStamp(ProcessStamp* self);
// A parent lookup over the process table as it is now; an empty lookup
// (one that finds nothing) when no snapshot could be taken.
ParentLookup SnapshotParentLookup();

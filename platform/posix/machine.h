// Opening an emulated machine: a directory holding one SQLite database
// (registry, service runtime state, settings, fault rules) and one directory
// per drive ("drive_c" for C:). Every emulated Win32 call reaches its state
// through the current machine of the process, which is opened on first use
// from $MEVRID_MACHINE, else from the per-user default, created with its
// defaults the way Wine creates its prefix. The machine tool, mevrid-status
// and the tests open a machine here; everything else they do with it is in
// admin.h.
#pragma once

#include <string>

namespace emu {

// machine/machine.cc: the machine directory this process uses:
// $MEVRID_MACHINE, else $XDG_DATA_HOME/mevrid/machine, else ~/.mevrid-machine.
std::string DefaultMachineDir();

// machine/machine.cc: opens (creating directory, database and defaults when
// asked) the machine at dir and makes it the process's current machine.
// false with *error set when it cannot; a machine that does not exist, or a
// database that holds none (emptied or damaged), is an error unless create
// is set.
bool OpenMachine(const std::string& dir, bool create, std::string* error);
// machine/machine.cc: closes the current machine; the next emulated call
// opens the default one.
void CloseMachine();
// machine/machine.cc: the absolute directory of the current machine (opened
// as the emulated calls open it when none is).
const std::string& MachineDirectory();
// machine/machine.cc: the directory that holds drive letter ("drive_c").
std::string DriveDirectory(char letter);

// machine/database.cc: true when the last statement that failed since the
// outermost transaction began failed for want of space (the host's disk is
// full).
bool LastFailureWasDiskFull();

}  // namespace emu

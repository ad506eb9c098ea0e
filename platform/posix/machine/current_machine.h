// The machine this process works on: its directory and its connection,
// opened on first use (see platform/posix/machine.h).
#pragma once

#include <sqlite3.h>

#include <string>

namespace emu {

struct Machine {
  std::string dir;  // absolute path of the machine directory
  sqlite3* db = nullptr;
};

// The current machine, opened from DefaultMachineDir() on first use, and
// created there only when the directory has no drive yet (a drive without a
// valid database is a machine that lost its registry, never a new one).
// Aborts with a one-line message when the machine cannot be opened, since no
// emulated call can then answer truthfully.
Machine& Current();

// True while a machine is open in this process.
bool MachineIsOpen();
// True when db is the open machine's connection (whose statements are cached).
bool IsMachineConnection(sqlite3* db);

}  // namespace emu

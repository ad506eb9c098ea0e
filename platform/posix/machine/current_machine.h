// The machine this process works on: its directory and its connection,
// opened on first use (see platform/posix/machine.h).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace emu {

struct Machine {
  std::string dir;  // absolute path of the machine directory
  sqlite3* db = nullptr;
  // Opened for reading only (see OpenMachineForReading): the emulated calls
  // change nothing, and what they would have written lives in this process.
  bool read_only = false;
  int64_t clock_ahead_ms = 0;  // virtual time this reader's waits moved on
};

// The current machine, opened from DefaultMachineDir() on first use, and
// created there only when the directory has no drive yet (a drive without a
// valid database is a machine that lost its registry, never a new one).
// Aborts with a one-line message when the machine cannot be opened, since no
// emulated call can then answer truthfully.
Machine& Current();

// True while a machine is open in this process.
bool MachineIsOpen();
// True while the open machine was opened for reading only.
bool MachineIsReadOnly();

// Opens the machine at dir for reading only and makes it the current one;
// nothing is created or written, not even SQLite's -wal and -shm files.
// With the -wal there the database is read through it (its -shm opened
// read-only); without, the database file alone is all there is, and it is
// read as an unchanging file. false with *error set when it cannot be read.
bool OpenMachineForReading(const std::string& dir, bool through_wal, std::string* error);
// True when db is the open machine's connection (whose statements are cached).
bool IsMachineConnection(sqlite3* db);

}  // namespace emu

// Reading the machine without changing it, for the tool's read-only
// companion (mevrid-status).
#pragma once

#include <functional>
#include <string>

// Runs read with the machine opened for reading only: nothing of the machine
// is written or created, and one that does not exist is not made. On an
// emulated machine that means not even SQLite's side files: the database is
// read in a directory nobody may write to, beside a run that writes it, and
// while the install lock is held. read may run more than once: when a writer
// started while it ran, what it saw may be torn, and it runs again. false,
// with one line saying what was found, when there is no machine to read
// (never on Windows, which is the machine itself).
bool ReadMachineWithoutWriting(const std::function<void()>& read, std::string* error);

#include "status/machine_access.h"

#ifdef _WIN32
#include <windows.h>

// Windows is the machine itself.
bool OpenExistingMachine(std::string*) { return true; }
bool EnterReleaseDirectory(const std::string& directory) { return SetCurrentDirectoryA(directory.c_str()) != 0; }
#else
#include <unistd.h>

#include "platform/posix/machine.h"

// The machine of $MEVRID_MACHINE (else the user's default), as the tool
// opens it, but one that does not exist is not created: reading creates
// nothing.
bool OpenExistingMachine(std::string* error) { return emu::OpenMachine(emu::DefaultMachineDir(), false, error); }
bool EnterReleaseDirectory(const std::string& directory) { return chdir(directory.c_str()) == 0; }
#endif

#include "status/machine_access.h"

#ifdef _WIN32
#include <windows.h>

bool EnterReleaseDirectory(const std::string& directory) { return SetCurrentDirectoryA(directory.c_str()) != 0; }
#else
#include <unistd.h>

bool EnterReleaseDirectory(const std::string& directory) { return chdir(directory.c_str()) == 0; }
#endif

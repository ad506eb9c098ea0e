// What the emulation's parts ask of each other. Each function is implemented
// by the part named beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/win32_api.h"

namespace emu {

// kernel/paths.cc: a Windows path ("C:\WINDOWS\x", "nt_node\x", "\s1.") as a host
// path. Drive letters map to drive directories of the machine, "\" to "/",
// existing components are matched case-insensitively; a relative path is
// relative to the real current directory, a rooted path without a drive is on
// the current drive. Returns false for a path that has no host form.
bool TranslatePath(const std::string& windows_path, std::string* host_path);
// kernel/paths.cc: the current drive letter: the emulated drive that holds the real
// current directory, else 'C'.
char CurrentDrive();
// kernel/files.cc: true when a host file may not be deleted because it is in use:
// the image of a running driver service, or the image of a live process.
bool IsFileInUse(const std::string& host_path);
// kernel/files.cc: removes from host_dir (and, when recursive, every directory below
// it) the copies that a killed process left half-written; copies of live
// processes stay.
void RemoveStaleCopies(const std::string& host_dir, bool recursive);
// kernel/files.cc: the same for the Windows directory and every directory
// below it, where the component's files are copied; called by every run
// that takes the install lock, so no install or removal leaves them.
void RemoveStaleWindowsCopies();
// kernel/pending_renames.cc: carries out PendingFileRenameOperations (the reboot's part).
bool RunPendingFileOperations(std::string* error);

// services/services.cc: host paths of the images of driver services now running.
std::vector<std::string> RunningDriverImages();

// process/environment.cc: the Windows directory of the machine ("C:\WINDOWS"):
// "SystemRoot" from the process environment when present, else the machine's.
// Empty when the variable is present but empty (the directory is not set).
std::string WindowsDirectory();

// kernel/errors.cc: the calling thread's last error, as GetLastError returns it.
void SetLastErrorCode(DWORD code);

}  // namespace emu

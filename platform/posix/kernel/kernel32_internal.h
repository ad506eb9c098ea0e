// What the emulated kernel32 parts (paths, files, handles, processes,
// environment) share among themselves; the rest of the emulation sees only
// internal.h.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/internal.h"
#include "platform/posix/kernel/unique_fd.h"
#include "platform/posix/win32_api.h"

// Win32 codes the files and processes answer with that the tool itself never
// names (winerror.h values).
#ifndef ERROR_TOO_MANY_OPEN_FILES
#define ERROR_TOO_MANY_OPEN_FILES 4L
#endif
#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17L
#endif
#ifndef ERROR_GEN_FAILURE
#define ERROR_GEN_FAILURE 31L
#endif
#ifndef ERROR_BAD_NETPATH
#define ERROR_BAD_NETPATH 53L
#endif
#ifndef ERROR_DIR_NOT_EMPTY
#define ERROR_DIR_NOT_EMPTY 145L
#endif
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267L
#endif
#ifndef FILE_FLAG_BACKUP_SEMANTICS
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#endif

namespace emu::k32 {

// ---- Paths (paths.cc) ------------------------------------------------------

// A Windows path taken apart the way GetFullPathName sees it: below a drive
// (drive != 0) or, for a relative path while the real current directory lies
// outside every emulated drive, below the host's root. Components are
// normalised: "." and ".." applied, trailing dots and spaces dropped.
struct ParsedPath {
  char drive = 0;          // as written ('c' stays 'c'), 0 for a host path
  std::vector<std::string> components;
};
bool ParsePath(const std::string& windows_path, ParsedPath* parsed, DWORD* error);

// The host path of a file call's name argument, with the limits of the ANSI
// calls: a name of 261 characters or more does not fit kernel32's static
// conversion buffer (ERROR_FILENAME_EXCED_RANGE); a full path of 260 or more
// does not fit the path conversion that follows (ERROR_PATH_NOT_FOUND).
// The second name of a two-name call is converted into an allocated buffer
// instead, so only the second limit applies to it (first_name false).
bool HostPathForCall(const char* windows_path, std::string* host_path, DWORD* error, bool first_name = true);

// The host path of name inside host_dir, matched without case as TranslatePath
// matches a component (the name as given when there is no such entry).
std::string HostChild(const std::string& host_dir, const std::string& name);

// GetFullPathName's answer ("C:\dir\file"), without the length limits.
// Fails with ERROR_PATH_NOT_FOUND for a path that has no Windows form.
bool FullWindowsPath(const std::string& windows_path, std::string* full, DWORD* error);

// The Win32 error for a failed host call on host_path: a missing name is
// ERROR_FILE_NOT_FOUND when its directory exists, else ERROR_PATH_NOT_FOUND.
DWORD ErrorFromErrno(int error_number, const std::string& host_path);

// ---- Kernel handles (kernel_handles.cc) ------------------------------------

// One object behind one or more kernel handles (a process and its thread
// handle share one). Destroyed when its last handle is closed.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // What fault rules and call traces see for calls on the handle: a file's
  // path, a process's command line.
  virtual std::string Describe() const = 0;
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> FindHandleOf(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

// An open file. Its access and share mode take part in the sharing checks of
// every later open, deletion and rename of the same file in this process.
class FileObject : public KernelObject {
 public:
  FileObject(UniqueFd fd, std::string windows_path, DWORD access, DWORD share, const struct stat& st);
  ~FileObject() override;
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;
  std::string Describe() const override { return windows_path_; }
  int fd() const { return fd_.get(); }
  DWORD access() const { return access_; }
  DWORD share() const { return share_; }
  dev_t dev() const { return dev_; }
  ino_t ino() const { return ino_; }

 private:
  UniqueFd fd_;
  std::string windows_path_;
  DWORD access_, share_;
  dev_t dev_;
  ino_t ino_;
};

// ERROR_SHARING_VIOLATION when opening the file st describes with the
// given access (GENERIC_READ, GENERIC_WRITE, DELETE) and share mode would
// conflict with a handle open on it in this process, else 0.
DWORD CheckSharing(const struct stat& st, DWORD access, DWORD share);

// ---- Files (files.cc, pending_renames.cc) ----------------------------------

// Records a rename or deletion (to empty) for the next reboot, as
// MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT does.
bool ScheduleAtReboot(const std::string& from, const char* to, DWORD flags, DWORD* error);

// ---- Environment (environment.cc) ------------------------------------------

// The value of a variable in the process environment (a pointer into it,
// as getenv gives), its name compared without case as on Windows: an entry
// spelled exactly as asked wins over one that differs in case. nullptr when
// the environment has no such variable.
const char* FindEnvironmentValue(const std::string& name);

// The variable as a Windows program sees it: from the process environment,
// else for "SystemRoot" and "windir" (which every Windows process has) the
// machine's Windows directory. false when the variable is not set.
bool LookupVariable(const std::string& name, std::string* value);

// ---- Processes (process_command_line.cc) -----------------------------------

// The command line split into argv as the C runtime of a Windows program
// splits it: blanks separate, quotes group, 2n backslashes before a quote
// give n and the quote acts, 2n+1 give n and a literal quote; the program
// name (argv[0]) ends at the first blank or closing quote, backslashes kept.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// The program names CreateProcessA tries for a command line without an
// application name, in order: the quoted first token, or each prefix of the
// line that ends before a blank, then the whole line.
std::vector<std::string> ProgramCandidates(const std::string& command_line);

// The host path of the program a candidate names: ".exe" added when the
// name has no extension; a bare name searched in the directory of this
// program, the current directory, the system directory and the Windows
// directory. false when no regular file of that name exists.
bool ResolveProgram(const std::string& candidate, std::string* host_path);

}  // namespace emu::k32

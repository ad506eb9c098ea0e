// kernel32's file calls over the drive directories of the emulated machine.
// The read-only attribute is the owner's write permission bit, checked here
// rather than left to the host (which lets root write anything); a file in
// use (a running driver's or process's image) can be renamed but neither
// deleted nor overwritten, as on Windows.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/posix/kernel/fail.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/kernel/process_alive.h"
#include "platform/posix/machine/fault_check.h"
#include "util/file_time.h"

namespace {

using emu::k32::ErrorFromErrno;
using emu::k32::FileObject;
using emu::k32::HostPathForCall;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using emu::Fail;

HANDLE FailHandle(DWORD error) { return Fail(error, INVALID_HANDLE_VALUE); }

bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }
bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// What fault rules see for a call with two names.
std::string NamePair(const char* from, const char* to) { return std::string(from ? from : "") + " " + (to ? to : ""); }

std::string ParentOf(const std::string& host_path) {
  size_t slash = host_path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : host_path.substr(0, slash);
}

FILETIME ToFileTime(const struct timespec& ts) {
  uint64_t ticks = static_cast<uint64_t>(static_cast<int64_t>(ts.tv_sec) * kFileTimeTicksPerSecond + ts.tv_nsec / 100 +
                                         kFileTimeUnixEpochTicks);
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// A time to set: a null or zero FILETIME leaves the time as it is, as does
// the all-ones value that Windows reserves for "keep".
struct timespec FromFileTime(const FILETIME* ft) {
  struct timespec ts = {0, UTIME_OMIT};
  if (!ft) return ts;
  uint64_t ticks = (static_cast<uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
  if (ticks == 0 || ticks == ~0ULL) return ts;
  int64_t since_epoch = static_cast<int64_t>(ticks) - kFileTimeUnixEpochTicks;
  int64_t seconds = since_epoch / kFileTimeTicksPerSecond;
  int64_t rest = since_epoch % kFileTimeTicksPerSecond;
  if (rest < 0) {
    rest += kFileTimeTicksPerSecond;
    --seconds;
  }
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

constexpr char kCopyPrefix[] = ".mevrid-copy-";

// The process that writes a copy in progress, from its name
// (".mevrid-copy-<pid>-XXXXXX"); 0 for a name of another form.
pid_t CopyWriter(const std::string& name) {
  const size_t start = sizeof kCopyPrefix - 1;
  size_t end = start;
  while (end < name.size() && isdigit(static_cast<unsigned char>(name[end]))) ++end;
  if (end == start || end - start > 9 || end >= name.size() || name[end] != '-') return 0;
  return static_cast<pid_t>(atol(name.substr(start, end - start).c_str()));
}

// The call's fault rule on a path, then the path's host form: the error the
// call fails with, or 0 with *host set.
DWORD FaultOrHostPath(const char* operation, const char* path, std::string* host) {
  if (DWORD fault = emu::CheckFault(operation, path ? path : "")) return fault;
  DWORD error = 0;
  return HostPathForCall(path, host, &error) ? 0 : error;
}

// The host forms of a two-name call's paths: the error the call fails with,
// or 0 with both set.
DWORD HostPathPair(const char* from, const char* to, std::string* host_from, std::string* host_to) {
  DWORD error = 0;
  return HostPathForCall(from, host_from, &error) && HostPathForCall(to, host_to, &error, false) ? 0 : error;
}

// The call's fault rule on its two names, then their host forms.
DWORD FaultOrHostPaths(const char* operation, const char* from, const char* to, std::string* host_from,
                       std::string* host_to) {
  if (DWORD fault = emu::CheckFault(operation, NamePair(from, to))) return fault;
  return HostPathPair(from, to, host_from, host_to);
}

// Copies contents, permission bits and last-write time into a temporary
// file beside the target, then renames it over the target: a reader sees
// the old file or the new one, never half of one.
DWORD CopyHostFile(const std::string& from, const std::string& to, const struct stat& source) {
  emu::UniqueFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return ErrorFromErrno(errno, from);
  // The name carries the writer's process id: the next copy into this
  // directory can tell one a killed process left from one still being made.
  emu::RemoveStaleCopies(ParentOf(to), false);
  std::string temp = ParentOf(to) + "/" + kCopyPrefix + std::to_string(getpid()) + "-XXXXXX";
  emu::UniqueFd out(mkostemp(temp.data(), O_CLOEXEC));
  if (!out) return ErrorFromErrno(errno, to);
  DWORD error = 0;
  char buffer[65536];
  for (;;) {
    ssize_t got = read(in.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) error = ErrorFromErrno(errno, from);
      break;
    }
    for (ssize_t done = 0; done < got && !error;) {
      ssize_t put = write(out.get(), buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno != EINTR) error = ErrorFromErrno(errno, to);
      if (put > 0) done += put;
    }
    if (error) break;
  }
  struct timespec times[2] = {{0, UTIME_NOW}, source.st_mtim};
  if (!error && (fchmod(out.get(), source.st_mode & 07777) != 0 || futimens(out.get(), times) != 0))
    error = ErrorFromErrno(errno, to);
  in.reset();
  if (out.close() != 0 && !error) error = ErrorFromErrno(errno, to);
  if (!error && rename(temp.c_str(), to.c_str()) != 0) error = ErrorFromErrno(errno, to);
  if (error) unlink(temp.c_str());
  return error;
}

// The common part of MoveFileA and MoveFileExA (without the reboot case).
DWORD MoveNow(const char* from, const char* to, DWORD flags) {
  std::string host_from, host_to;
  if (DWORD error = HostPathPair(from, to, &host_from, &host_to)) return error;
  struct stat source, target;
  if (lstat(host_from.c_str(), &source) != 0) return ErrorFromErrno(errno, host_from);
  if (DWORD sharing = emu::k32::CheckSharing(source, DELETE, kShareAll)) return sharing;
  bool replace = false;
  if (stat(host_to.c_str(), &target) == 0) {
    if (SameFile(source, target)) {
      // A new spelling of the same name: the name takes the letters given.
      emu::k32::ParsedPath parsed;
      DWORD error = 0;
      if (!emu::k32::ParsePath(to, &parsed, &error)) return error;
      if (parsed.components.empty()) return ERROR_ACCESS_DENIED;
      std::string respelled = ParentOf(host_to) + "/" + parsed.components.back();
      return rename(host_from.c_str(), respelled.c_str()) == 0 ? 0 : ErrorFromErrno(errno, respelled);
    }
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return ERROR_ALREADY_EXISTS;
    if (S_ISDIR(target.st_mode) || S_ISDIR(source.st_mode) || IsReadOnly(target)) return ERROR_ACCESS_DENIED;
    if (DWORD sharing = emu::k32::CheckSharing(target, DELETE, kShareAll)) return sharing;
    if (emu::IsFileInUse(host_to)) return ERROR_ACCESS_DENIED;
    replace = true;
  }
  int result = replace ? rename(host_from.c_str(), host_to.c_str())
                       : renameat2(AT_FDCWD, host_from.c_str(), AT_FDCWD, host_to.c_str(), RENAME_NOREPLACE);
  if (result != 0 && !replace && errno == EINVAL)  // a file system without RENAME_NOREPLACE
    result = rename(host_from.c_str(), host_to.c_str());
  if (result == 0) return 0;
  if (errno == EEXIST) return ERROR_ALREADY_EXISTS;
  if (errno == EXDEV && (flags & MOVEFILE_COPY_ALLOWED) && S_ISREG(source.st_mode)) {
    if (DWORD copy_error = CopyHostFile(host_from, host_to, source)) return copy_error;
    return unlink(host_from.c_str()) == 0 ? 0 : ErrorFromErrno(errno, host_from);
  }
  return ErrorFromErrno(errno, host_to);
}

}  // namespace

namespace emu {

bool admin::IsCopyInProgressName(const std::string& name) { return name.compare(0, sizeof kCopyPrefix - 1, kCopyPrefix) == 0; }

void RemoveStaleCopies(const std::string& host_dir, bool recursive) {
  DIR* dir = opendir(host_dir.c_str());
  if (!dir) return;
  std::vector<std::string> below;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    std::string path = host_dir + "/" + name;
    if (admin::IsCopyInProgressName(name)) {
      // A name without a process id comes from an older build: nobody can
      // be writing it any more.
      if (!emu::ProcessAlive(CopyWriter(name))) unlink(path.c_str());
    } else if (recursive && name != "." && name != "..") {
      struct stat st;
      bool directory = entry->d_type == DT_DIR ||
                       (entry->d_type == DT_UNKNOWN && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
      if (directory) below.push_back(path);
    }
  }
  closedir(dir);
  for (const std::string& path : below) RemoveStaleCopies(path, true);
}

void RemoveStaleWindowsCopies() {
  const std::string windows = WindowsDirectory();
  std::string host;
  if (!windows.empty() && TranslatePath(windows, &host)) RemoveStaleCopies(host, true);
}

bool IsFileInUse(const std::string& host_path) {
  struct stat target;
  if (stat(host_path.c_str(), &target) != 0) return false;
  for (const std::string& image : RunningDriverImages()) {
    struct stat st;
    if (stat(image.c_str(), &st) == 0 && SameFile(st, target)) return true;
  }
  // Only an executable file can be a process's image, so only then is the
  // process table worth reading.
  if (!S_ISREG(target.st_mode) || !(target.st_mode & 0111)) return false;
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool in_use = false;
  while (struct dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    struct stat image;
    std::string exe = std::string("/proc/") + entry->d_name + "/exe";
    if (stat(exe.c_str(), &image) == 0 && SameFile(image, target)) {
      in_use = true;
      break;
    }
  }
  closedir(proc);
  return in_use;
}

}  // namespace emu

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE hTemplateFile) {
  std::string host;
  if (DWORD error = FaultOrHostPath("CreateFileA", lpFileName, &host)) return FailHandle(error);
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
    return FailHandle(ERROR_INVALID_PARAMETER);
  const bool writes = (dwDesiredAccess & GENERIC_WRITE) != 0;
  const bool truncates = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
  struct stat st;
  const bool exists = stat(host.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return FailHandle(ErrorFromErrno(errno, host));
  bool directory = false;
  if (exists) {
    if (dwCreationDisposition == CREATE_NEW) return FailHandle(ERROR_FILE_EXISTS);
    directory = S_ISDIR(st.st_mode);
    // A directory opens only for backup semantics, and never to write.
    if (directory && (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || writes || truncates))
      return FailHandle(ERROR_ACCESS_DENIED);
    if ((writes || truncates) && IsReadOnly(st)) return FailHandle(ERROR_ACCESS_DENIED);
    if (DWORD sharing = emu::k32::CheckSharing(st, dwDesiredAccess, dwShareMode)) return FailHandle(sharing);
    if ((writes || truncates) && emu::IsFileInUse(host)) return FailHandle(ERROR_SHARING_VIOLATION);
  } else if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
    return FailHandle(ErrorFromErrno(ENOENT, host));
  }
  int flags = O_CLOEXEC;
  if (directory)
    flags |= O_RDONLY | O_DIRECTORY;
  else if (writes)
    flags |= (dwDesiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY;
  else
    flags |= O_RDONLY;
  if (dwCreationDisposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (dwCreationDisposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
  if (dwCreationDisposition == OPEN_ALWAYS) flags |= O_CREAT;
  if (dwCreationDisposition == TRUNCATE_EXISTING) flags |= O_TRUNC;
  const bool read_only = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  emu::UniqueFd fd(open(host.c_str(), flags, read_only ? 0444 : 0666));
  if (!fd) return FailHandle(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno, host));
  // The handle keeps what it opened; a file that cannot be looked at or
  // given its attributes is not handed out (the descriptor closes with fd).
  struct stat opened;
  if (fstat(fd.get(), &opened) != 0) return FailHandle(ErrorFromErrno(errno, host));
  // Overwriting a file gives it the attributes asked for, as a new file has.
  if (exists && dwCreationDisposition == CREATE_ALWAYS && read_only) {
    if (fchmod(fd.get(), opened.st_mode & 07555) != 0 || fstat(fd.get(), &opened) != 0)
      return FailHandle(ErrorFromErrno(errno, host));
  }
  HANDLE handle =
      emu::k32::AddHandle(std::make_shared<FileObject>(std::move(fd), lpFileName, dwDesiredAccess, dwShareMode, opened));
  const bool opened_existing =
      exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
  emu::SetLastErrorCode(opened_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime) {
  auto file = emu::k32::FindHandleOf<FileObject>(hFile);
  if (DWORD fault = emu::CheckFault("GetFileTime", file ? file->Describe() : "")) return Fail(fault);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  struct statx stx;
  if (statx(file->fd(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
    return Fail(ErrorFromErrno(errno, ""));
  auto to_timespec = [](const struct statx_timestamp& t) {
    return timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)};
  };
  // Not every host file system keeps a birth time; the last write is the
  // closest it has then.
  if (lpCreationTime)
    *lpCreationTime = ToFileTime(to_timespec((stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime));
  if (lpLastAccessTime) *lpLastAccessTime = ToFileTime(to_timespec(stx.stx_atime));
  if (lpLastWriteTime) *lpLastWriteTime = ToFileTime(to_timespec(stx.stx_mtime));
  return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
  auto file = emu::k32::FindHandleOf<FileObject>(hFile);
  if (DWORD fault = emu::CheckFault("SetFileTime", file ? file->Describe() : "")) return Fail(fault);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  // Setting times needs the handle's right to write attributes, which only
  // GENERIC_WRITE of the rights the tool uses includes.
  if (!(file->access() & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  // The host cannot set a birth time; the creation time is left as it is.
  struct timespec times[2] = {FromFileTime(lpLastAccessTime), FromFileTime(lpLastWriteTime)};
  if (futimens(file->fd(), times) != 0) return Fail(ErrorFromErrno(errno, ""));
  return TRUE;
}

LONG CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2) {
  // Traced and counted like every call, but nothing can make it fail.
  emu::CheckFault("CompareFileTime", "");
  if (!lpFileTime1 || !lpFileTime2) return -1;
  uint64_t a = (static_cast<uint64_t>(lpFileTime1->dwHighDateTime) << 32) | lpFileTime1->dwLowDateTime;
  uint64_t b = (static_cast<uint64_t>(lpFileTime2->dwHighDateTime) << 32) | lpFileTime2->dwLowDateTime;
  return a < b ? -1 : (a > b ? 1 : 0);
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  std::string host;
  DWORD error = FaultOrHostPath("GetFileAttributesA", lpFileName, &host);
  struct stat st;
  if (!error && stat(host.c_str(), &st) != 0) error = ErrorFromErrno(errno, host);
  if (error) {
    emu::SetLastErrorCode(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  // A file reports the archive bit it gets when written, as Windows and
  // Wine report a new or copied file.
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  std::string host;
  if (DWORD error = FaultOrHostPath("SetFileAttributesA", lpFileName, &host)) return Fail(error);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, host));
  // Only the read-only attribute has a host form; the others are accepted
  // and kept nowhere.
  mode_t mode = st.st_mode & 07777;
  mode = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (chmod(host.c_str(), mode) != 0) return Fail(ErrorFromErrno(errno, host));
  return TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  std::string from, to;
  if (DWORD error = FaultOrHostPaths("CopyFileA", lpExistingFileName, lpNewFileName, &from, &to)) return Fail(error);
  struct stat source, target;
  if (stat(from.c_str(), &source) != 0) return Fail(ErrorFromErrno(errno, from));
  if (S_ISDIR(source.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD sharing = emu::k32::CheckSharing(source, GENERIC_READ, FILE_SHARE_READ)) return Fail(sharing);
  if (stat(to.c_str(), &target) == 0) {
    if (SameFile(source, target)) return Fail(ERROR_SHARING_VIOLATION);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (S_ISDIR(target.st_mode) || IsReadOnly(target)) return Fail(ERROR_ACCESS_DENIED);
    if (DWORD sharing = emu::k32::CheckSharing(target, GENERIC_WRITE, 0)) return Fail(sharing);
    if (emu::IsFileInUse(to)) return Fail(ERROR_SHARING_VIOLATION);
  } else if (errno != ENOENT) {
    return Fail(ErrorFromErrno(errno, to));
  }
  if (DWORD copy_error = CopyHostFile(from, to, source)) return Fail(copy_error);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  std::string host;
  if (DWORD error = FaultOrHostPath("DeleteFileA", lpFileName, &host)) return Fail(error);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, host));
  if (S_ISDIR(st.st_mode) || IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD sharing = emu::k32::CheckSharing(st, DELETE, kShareAll)) return Fail(sharing);
  // Windows refuses to delete a mapped image with access denied.
  if (emu::IsFileInUse(host)) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(host.c_str()) != 0) return Fail(ErrorFromErrno(errno, host));
  return TRUE;
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  if (DWORD fault = emu::CheckFault("MoveFileA", NamePair(lpExistingFileName, lpNewFileName))) return Fail(fault);
  if (DWORD error = MoveNow(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED)) return Fail(error);
  return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (DWORD fault = emu::CheckFault("MoveFileExA", NamePair(lpExistingFileName, lpNewFileName))) return Fail(fault);
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    // A rename at boot happens before any copying is possible.
    if (dwFlags & MOVEFILE_COPY_ALLOWED) return Fail(ERROR_INVALID_PARAMETER);
    DWORD error = 0;
    if (!lpExistingFileName) return Fail(ERROR_PATH_NOT_FOUND);
    if (!emu::k32::ScheduleAtReboot(lpExistingFileName, lpNewFileName, dwFlags, &error)) return Fail(error);
    return TRUE;
  }
  if (!lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (DWORD error = MoveNow(lpExistingFileName, lpNewFileName, dwFlags)) return Fail(error);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  std::string host;
  if (DWORD error = FaultOrHostPath("CreateDirectoryA", lpPathName, &host)) return Fail(error);
  if (mkdir(host.c_str(), 0777) != 0) return Fail(ErrorFromErrno(errno, host));
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  std::string host;
  if (DWORD error = FaultOrHostPath("RemoveDirectoryA", lpPathName, &host)) return Fail(error);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, host));
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (rmdir(host.c_str()) != 0)
    return Fail(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno, host));
  return TRUE;
}

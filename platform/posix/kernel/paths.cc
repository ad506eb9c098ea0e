// Windows paths on the emulated machine: drive letters become drive
// directories, names are matched without regard to case as NTFS matches
// them, and the ANSI file calls keep their length limits.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/admin.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/split.h"

namespace emu {
namespace {

// kernel32 converts the first name of a call into a static buffer of 260
// characters and a terminator; longer names never reach the file system.
constexpr size_t kStaticNameLimit = 260;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string HostCurrentDirectory() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

std::vector<std::string> SplitHostPath(const std::string& path) { return SplitNonEmpty(path, '/'); }

// The emulated drive that holds a host directory, and the directory's path
// below the drive's root.
bool DriveOfHostDirectory(const std::string& host_dir, char* letter, std::string* below) {
  const std::string prefix = Current().dir + "/drive_";
  if (host_dir.size() <= prefix.size() || host_dir.compare(0, prefix.size(), prefix) != 0) return false;
  char c = host_dir[prefix.size()];
  size_t after = prefix.size() + 1;
  if (!(c >= 'a' && c <= 'z') || (after < host_dir.size() && host_dir[after] != '/')) return false;
  *letter = UpperAscii(c);
  *below = host_dir.substr(after);
  return true;
}

bool IsInvalidNameCharacter(unsigned char c) { return c < 32 || strchr("<>:\"|?*", c) != nullptr; }

// One written component, applied as Windows normalises a path: "." stays,
// ".." goes up (never above the root), trailing dots and spaces are dropped
// ("\s1." names the file "s1").
bool AddComponent(std::string name, std::vector<std::string>* parts, DWORD* error) {
  if (name.empty() || name == ".") return true;
  if (name == "..") {
    if (!parts->empty()) parts->pop_back();
    return true;
  }
  for (char c : name) {
    if (IsInvalidNameCharacter(static_cast<unsigned char>(c))) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
  }
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (!name.empty()) parts->push_back(name);
  return true;
}

// The entry of dir that bears name in any letter case: the exact spelling
// first, else the first of the case-insensitive matches in byte order, so
// the choice is the same on every call.
bool MatchComponent(const std::string& dir, const std::string& name, std::string* actual) {
  struct stat st;
  if (lstat((dir + "/" + name).c_str(), &st) == 0) {
    *actual = name;
    return true;
  }
  DIR* handle = opendir(dir.empty() ? "/" : dir.c_str());
  if (!handle) return false;
  bool found = false;
  while (struct dirent* entry = readdir(handle)) {
    std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (EqualsNoCase(candidate, name) && (!found || candidate < *actual)) {
      *actual = candidate;
      found = true;
    }
  }
  closedir(handle);
  return found;
}

std::string ResolveParsed(const k32::ParsedPath& parsed) {
  std::string host;
  if (parsed.drive) {
    char letter = LowerAscii(parsed.drive);
    host = DriveDirectory(letter);
    // C: always exists on Windows; other drives exist only where the
    // machine has their directory.
    if (letter == 'c') mkdir(host.c_str(), 0755);
  }
  bool parent_exists = true;
  for (const std::string& name : parsed.components) {
    std::string actual;
    parent_exists = parent_exists && MatchComponent(host, name, &actual);
    host += "/" + (parent_exists ? actual : name);
  }
  return host.empty() ? std::string("/") : host;
}

size_t FullPathLength(const k32::ParsedPath& parsed) {
  size_t length = 3;  // "C:\"
  for (size_t i = 0; i < parsed.components.size(); ++i) length += parsed.components[i].size() + (i ? 1 : 0);
  return length;
}

}  // namespace

char CurrentDrive() {
  char letter;
  std::string below;
  return DriveOfHostDirectory(HostCurrentDirectory(), &letter, &below) ? letter : 'C';
}

bool TranslatePath(const std::string& windows_path, std::string* host_path) {
  k32::ParsedPath parsed;
  DWORD error = 0;
  if (!k32::ParsePath(windows_path, &parsed, &error)) return false;
  *host_path = ResolveParsed(parsed);
  return true;
}

bool admin::HostPath(const std::string& windows_path, std::string* host_path) {
  return TranslatePath(windows_path, host_path);
}

namespace k32 {

bool ParsePath(const std::string& windows_path, ParsedPath* parsed, DWORD* error) {
  std::string path = windows_path;
  for (char& c : path)
    if (c == '/') c = '\\';
  // The NT and the long-path forms of a drive path.
  if (path.compare(0, 4, "\\??\\") == 0 || path.compare(0, 4, "\\\\?\\") == 0) {
    path.erase(0, 4);
    if (path.size() < 3 || !IsAsciiLetter(path[0]) || path[1] != ':' || path[2] != '\\') {
      *error = ERROR_PATH_NOT_FOUND;
      return false;
    }
  }
  if (path.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (path.compare(0, 2, "\\\\") == 0) {  // a UNC name: the machine has no network
    *error = ERROR_BAD_NETPATH;
    return false;
  }
  *parsed = ParsedPath();
  char cwd_drive = 0;
  std::string cwd_below;
  std::string cwd = HostCurrentDirectory();
  bool cwd_on_drive = DriveOfHostDirectory(cwd, &cwd_drive, &cwd_below);
  std::string rest = path;
  if (path.size() >= 2 && path[1] == ':' && IsAsciiLetter(path[0])) {
    parsed->drive = path[0];
    rest = path.substr(2);
    // "D:name" is relative to the current directory of D:, which is the
    // real one for the current drive and the root for any other.
    if ((rest.empty() || rest[0] != '\\') && cwd_on_drive && UpperAscii(path[0]) == cwd_drive)
      parsed->components = SplitHostPath(cwd_below);
  } else if (path[0] == '\\') {
    parsed->drive = CurrentDrive();
  } else if (cwd_on_drive) {
    parsed->drive = cwd_drive;
    parsed->components = SplitHostPath(cwd_below);
  } else {
    parsed->components = SplitHostPath(cwd);
  }
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    if (!AddComponent(rest.substr(start, end - start), &parsed->components, error)) return false;
    start = end + 1;
  }
  return true;
}

bool HostPathForCall(const char* windows_path, std::string* host_path, DWORD* error, bool first_name) {
  if (!windows_path) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (first_name && strlen(windows_path) > kStaticNameLimit) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  ParsedPath parsed;
  if (!ParsePath(windows_path, &parsed, error)) return false;
  if (parsed.drive && FullPathLength(parsed) >= MAX_PATH) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  *host_path = ResolveParsed(parsed);
  return true;
}

std::string HostChild(const std::string& host_dir, const std::string& name) {
  std::string actual;
  return host_dir + "/" + (MatchComponent(host_dir, name, &actual) ? actual : name);
}

bool FullWindowsPath(const std::string& windows_path, std::string* full, DWORD* error) {
  ParsedPath parsed;
  if (!ParsePath(windows_path, &parsed, error)) return false;
  if (!parsed.drive) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  *full = std::string(1, parsed.drive) + ":\\";
  for (size_t i = 0; i < parsed.components.size(); ++i) *full += (i ? "\\" : "") + parsed.components[i];
  return true;
}

DWORD ErrorFromErrno(int error_number, const std::string& host_path) {
  switch (error_number) {
    case ENOENT: {
      size_t slash = host_path.rfind('/');
      std::string parent = slash == std::string::npos || slash == 0 ? "/" : host_path.substr(0, slash);
      struct stat st;
      return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
    case ENOTEMPTY:
      return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace k32
}  // namespace emu

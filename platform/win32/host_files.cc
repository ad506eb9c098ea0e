// The host files a run writes for its deployers (log and record), the clock
// its waits are measured on, and its process identity, on Windows.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

struct PlatformLogFile {
  HANDLE File;
};

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file on a disk, not a directory: not a device (NUL, CON, a COM port)
// nor a pipe.
bool IsRegular(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

HostFileKind PlatformHostFileKind(const char* path) {
  // No access asked: a device is looked at, not opened for use; backup
  // semantics open a directory too.
  HANDLE file = CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? HostFileKind::Missing
                                                                          : HostFileKind::Other;
  }
  const bool regular = IsRegular(file);
  CloseHandle(file);
  return regular ? HostFileKind::Regular : HostFileKind::Other;
}

bool PlatformReadHostFileEnds(const char* path, size_t size, std::string* head, std::string* tail) {
  HANDLE file = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER file_size{};
  bool ok = IsRegular(file) && GetFileSizeEx(file, &file_size);
  const DWORD length = ok ? static_cast<DWORD>(std::min<LONGLONG>(size, file_size.QuadPart)) : 0;
  head->resize(length);
  tail->resize(length);
  DWORD read = 0;
  ok = ok && ReadFile(file, head->data(), length, &read, nullptr) && read == length;
  LARGE_INTEGER tail_start{};
  tail_start.QuadPart = file_size.QuadPart - length;
  ok = ok && SetFilePointerEx(file, tail_start, nullptr, FILE_BEGIN) &&
       ReadFile(file, tail->data(), length, &read, nullptr) && read == length;
  CloseHandle(file);
  return ok;
}

PlatformLogFile* PlatformOpenLog(const char* path) {
  if (PlatformHostFileKind(path) == HostFileKind::Other) return nullptr;
  // Append access alone: Windows places every write whole at the end.
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (!IsRegular(file)) {
    CloseHandle(file);
    return nullptr;
  }
  return new PlatformLogFile{file};
}

bool PlatformAppendToLog(PlatformLogFile* log, const char* data, size_t size) {
  DWORD written = 0;
  return log != nullptr && WriteFile(log->File, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

void PlatformCloseLog(PlatformLogFile* log) {
  if (log == nullptr) return;
  CloseHandle(log->File);
  delete log;
}

namespace {

// Whether the process of that id has ended (or never was): a process that
// cannot be opened because no such id exists, or whose handle is signalled.
bool ProcessEnded(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

// A run killed while writing its record leaves "<record>.tmp.<pid>" beside
// it; the next record written there removes it. A temporary whose writer
// still runs (a concurrent run) stays.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string pattern = path + ".tmp.*";
  const size_t slash = path.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // Short names can match the pattern too: the long name must have the form.
    const std::string name = found.cFileName;
    const std::string prefix = path.substr(dir.size()) + ".tmp.";
    const bool ours = name.size() > prefix.size() && _strnicmp(name.c_str(), prefix.c_str(), prefix.size()) == 0;
    const std::string digits = ours ? name.substr(prefix.size()) : std::string();
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const DWORD pid = static_cast<DWORD>(strtoul(digits.c_str(), nullptr, 10));
    if (pid != GetCurrentProcessId() && ProcessEnded(pid)) DeleteFileA((dir + name).c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

bool PlatformWriteFileAtomically(const char* path, const char* data, size_t size) {
  RemoveStaleTemporaries(path);
  const std::string temporary = std::string(path) + ".tmp." + std::to_string(GetCurrentProcessId());
  HANDLE file =
      CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  if (!CloseHandle(file) || !ok ||
      !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

uint64_t PlatformClockMs() { return GetTickCount64(); }

void PlatformUtcTimestamp(char (&text)[32]) {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond, now.wMilliseconds);
}

unsigned long PlatformProcessId() { return GetCurrentProcessId(); }

// Children take the process's environment block, not the runtime's copy.
void PlatformUnsetEnv(const char* name) { SetEnvironmentVariableA(name, nullptr); }

std::string PlatformCurrentDirectory() {
  char directory[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  return length > 0 && length < sizeof directory ? std::string(directory, length) : std::string();
}

std::string PlatformMachineName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = sizeof name;
  return GetComputerNameA(name, &length) ? std::string(name, length) : std::string();
}

// The host files a run writes for its deployers (log and record), the clock
// its waits are measured on, and its process identity, on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/admin.h"
#include "platform/posix/kernel/process_alive.h"
#include "platform/posix/kernel/unique_fd.h"

struct PlatformLogFile {
  emu::UniqueFd fd;
};

namespace {

bool IsRegular(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Opened without waiting: a FIFO with no reader would block an open for
// writing for ever, and one for reading until a writer comes.
constexpr int kOpenAtOnce = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

}  // namespace

HostFileKind PlatformHostFileKind(const char* path) {
  struct stat st;
  // A path that cannot be looked at cannot be written either.
  if (stat(path, &st) != 0) return HostFileKind::Missing;
  return S_ISREG(st.st_mode) ? HostFileKind::Regular : HostFileKind::Other;
}

bool PlatformReadHostFileEnds(const char* path, size_t size, std::string* head, std::string* tail) {
  emu::UniqueFd fd(open(path, O_RDONLY | kOpenAtOnce));
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const size_t length = std::min(size, static_cast<size_t>(st.st_size));
  head->resize(length);
  tail->resize(length);
  const off_t tail_start = st.st_size - static_cast<off_t>(length);
  return pread(fd.get(), head->data(), length, 0) == static_cast<ssize_t>(length) &&
         pread(fd.get(), tail->data(), length, tail_start) == static_cast<ssize_t>(length);
}

PlatformLogFile* PlatformOpenLog(const char* path) {
  // Looked at first, so that no device is even opened; the check after the
  // opening covers a path that changed in between.
  if (PlatformHostFileKind(path) == HostFileKind::Other) return nullptr;
  emu::UniqueFd fd(open(path, O_WRONLY | O_APPEND | O_CREAT | kOpenAtOnce, 0644));
  if (!fd || !IsRegular(fd.get())) return nullptr;
  return new PlatformLogFile{std::move(fd)};
}

bool PlatformAppendToLog(PlatformLogFile* log, const char* data, size_t size) {
  // One write: O_APPEND places it whole at the end of the file.
  return log != nullptr && write(log->fd.get(), data, size) == static_cast<ssize_t>(size);
}

void PlatformCloseLog(PlatformLogFile* log) {
  delete log;
}

namespace {

// The process id that ends a temporary name "<base>.tmp.<pid>"; 0 for any
// other name.
long TemporaryWriter(const std::string& name, const std::string& base) {
  const std::string prefix = base + ".tmp.";
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 || name.compare(0, prefix.size(), prefix) != 0)
    return 0;
  long pid = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

// A run killed while writing its record leaves "<record>.tmp.<pid>" beside
// it; the next record written there removes it. A temporary whose writer
// still runs (a concurrent run) stays.
void RemoveStaleTemporaries(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* entries = opendir(dir.c_str());
  if (!entries) return;
  while (const dirent* entry = readdir(entries)) {
    const long writer = TemporaryWriter(entry->d_name, base);
    if (writer > 0 && writer != getpid() && !emu::ProcessAlive(writer)) unlink((dir + "/" + entry->d_name).c_str());
  }
  closedir(entries);
}

}  // namespace

bool PlatformWriteFileAtomically(const char* path, const char* data, size_t size) {
  RemoveStaleTemporaries(path);
  const std::string temporary = std::string(path) + ".tmp." + std::to_string(getpid());
  emu::UniqueFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return false;
  const bool written = write(fd.get(), data, size) == static_cast<ssize_t>(size);
  if (fd.close() != 0 || !written || rename(temporary.c_str(), path) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

uint64_t PlatformClockMs() { return static_cast<uint64_t>(emu::NowMs()); }

void PlatformUtcTimestamp(char (&text)[32]) {
  timeval now{};
  gettimeofday(&now, nullptr);
  // A run logs many lines within one second: the date and time are formed
  // once per second, the milliseconds for every line.
  static time_t formed_second = -1;
  static char second_text[32];
  if (now.tv_sec != formed_second) {
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    strftime(second_text, sizeof second_text, "%Y-%m-%dT%H:%M:%S", &parts);
    formed_second = now.tv_sec;
  }
  snprintf(text, sizeof text, "%.19s.%03dZ", second_text, static_cast<int>(now.tv_usec / 1000));
}

unsigned long PlatformProcessId() { return static_cast<unsigned long>(getpid()); }

// The emulated CreateProcessA hands its children this process's environment.
void PlatformUnsetEnv(const char* name) { unsetenv(name); }

std::string PlatformCurrentDirectory() {
  char directory[4096];
  return getcwd(directory, sizeof directory) ? std::string(directory) : std::string();
}

// Named without opening it: a run that never touches the machine (a usage
// error) must not create it.
std::string PlatformMachineName() {
  if (const char* machine = getenv("MEVRID_MACHINE"); machine && *machine) return machine;
  const char* home = getenv("HOME");
  return std::string(home ? home : "") + "/.mevrid-machine";
}

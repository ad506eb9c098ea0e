// How CreateProcessA finds the program in a command line, and how the C
// runtime of the started program splits the line into its arguments.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/posix/kernel/kernel32_internal.h"

namespace emu::k32 {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsRegularFile(const std::string& host_path) {
  struct stat st;
  return stat(host_path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string OwnDirectory() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  std::string path(buffer, static_cast<size_t>(length));
  return path.substr(0, path.rfind('/'));
}

std::string HostCurrentDirectory() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();
  // The program name: quotes only group, backslashes are path separators.
  std::string program;
  for (bool quoted = false; i < n && (quoted || !IsBlank(line[i])); ++i) {
    if (line[i] == '"')
      quoted = !quoted;
    else
      program += line[i];
  }
  args.push_back(program);
  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      size_t backslashes = 0;
      while (i < n && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && line[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg += '"';
        } else if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes is one literal quote; the quotes go on
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
        continue;
      }
      arg.append(backslashes, '\\');
      if (i >= n || (!quoted && IsBlank(line[i]))) break;
      arg += line[i++];
    }
    args.push_back(arg);
  }
  return args;
}

std::vector<std::string> ProgramCandidates(const std::string& line) {
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    return {line.substr(1, close == std::string::npos ? std::string::npos : close - 1)};
  }
  // An unquoted name may hold blanks: "C:\Program Files\a b.exe x" tries
  // "C:\Program", then "C:\Program Files\a", then "C:\Program Files\a b.exe".
  std::vector<std::string> candidates;
  for (size_t i = 1; i < line.size(); ++i)
    if (IsBlank(line[i]) && !IsBlank(line[i - 1])) candidates.push_back(line.substr(0, i));
  if (!line.empty() && !IsBlank(line.back())) candidates.push_back(line);
  return candidates;
}

bool ResolveProgram(const std::string& candidate, std::string* host_path) {
  if (candidate.empty() || candidate.size() >= MAX_PATH) return false;
  std::string name = candidate;
  size_t separator = name.find_last_of("\\/");
  if (name.find('.', separator == std::string::npos ? 0 : separator + 1) == std::string::npos) name += ".exe";
  std::vector<std::string> tries;
  std::string host;
  if (name.find_first_of("\\/:") != std::string::npos) {
    if (TranslatePath(name, &host)) tries.push_back(host);
  } else {
    // The search order of CreateProcess: the directory the calling program
    // came from, the current directory, the system directory, the Windows
    // directory. The host's PATH has no Windows form and is not searched.
    std::string own = OwnDirectory();
    if (!own.empty()) tries.push_back(HostChild(own, name));
    std::string cwd = HostCurrentDirectory();
    if (!cwd.empty()) tries.push_back(HostChild(cwd, name));
    std::string windows = WindowsDirectory();
    if (!windows.empty()) {
      if (TranslatePath(windows + "\\system32\\" + name, &host)) tries.push_back(host);
      if (TranslatePath(windows + "\\" + name, &host)) tries.push_back(host);
    }
  }
  for (const std::string& path : tries) {
    if (IsRegularFile(path)) {
      *host_path = path;
      return true;
    }
  }
  return false;
}

}  // namespace emu::k32

// files [DIR]: the files below a Windows directory of the machine, with
// their attributes and sizes, for demonstrations and tests.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "tools/tool.h"

namespace machine_tool {
namespace {

// "D" for a directory, "R" for read-only (no write permission, as the
// emulation keeps that attribute), "-" otherwise; then the size or <DIR>.
void PrintEntry(const std::string& windows_path, const struct stat& st) {
  bool directory = S_ISDIR(st.st_mode);
  std::string size = directory ? "<DIR>" : Format("%lld", static_cast<long long>(st.st_size));
  printf("%c%c %10s  %s\n", directory ? 'D' : '-', (st.st_mode & S_IWUSR) ? '-' : 'R', size.c_str(),
         windows_path.c_str());
}

std::string Child(const std::string& windows_dir, const std::string& name) {
  return windows_dir.back() == '\\' ? windows_dir + name : windows_dir + "\\" + name;
}

// Depth first, names in case-insensitive order as a Windows listing sorts.
void ListDirectory(const std::string& host_dir, const std::string& windows_dir) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(host_dir.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      // A copy in progress is not yet a file of the machine.
      if (name != "." && name != ".." && !emu::admin::IsCopyInProgressName(name)) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    std::string ua = emu::Upper(a), ub = emu::Upper(b);
    return ua != ub ? ua < ub : a < b;
  });
  for (const std::string& name : names) {
    std::string host = host_dir + "/" + name;
    struct stat st;
    if (lstat(host.c_str(), &st) != 0) continue;
    PrintEntry(Child(windows_dir, name), st);
    if (S_ISDIR(st.st_mode)) ListDirectory(host, Child(windows_dir, name));
  }
}

// The Windows spelling of a host path on drive letter, with the letter
// case stored on disk; the given text when the path is not on that drive.
std::string WindowsPathOf(const std::string& host, char letter, const std::string& given) {
  std::string drive = emu::DriveDirectory(letter);
  if (host.compare(0, drive.size(), drive) != 0) return given;
  std::string rest = host.substr(drive.size());
  std::replace(rest.begin(), rest.end(), '/', '\\');
  if (rest.empty() || rest[0] != '\\') rest = "\\" + rest;
  return std::string(1, static_cast<char>(toupper(static_cast<unsigned char>(letter)))) + ":" + rest;
}

}  // namespace

int RunFiles(const Context& ctx, const Args& args) {
  if (args.size() > 1) return Fail("'files' takes at most one directory");
  std::string dir = args.empty() ? "C:\\" : args[0];
  if (dir.size() < 2 || !isalpha(static_cast<unsigned char>(dir[0])) || dir[1] != ':' ||
      (dir.size() > 2 && dir[2] != '\\'))
    return Fail("'files' needs a Windows path with its drive, such as C:\\WINDOWS, got '" + dir + "'");
  if (dir.size() == 2) dir += "\\";
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  std::string host;
  struct stat st;
  if (!emu::admin::HostPath(dir, &host) || stat(host.c_str(), &st) != 0) return Fail("no " + dir + " on the machine");
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  std::string windows = WindowsPathOf(host, dir[0], dir);
  if (!S_ISDIR(st.st_mode)) {
    PrintEntry(windows, st);
    return kExitOk;
  }
  ListDirectory(host, windows);
  return kExitOk;
}

}  // namespace machine_tool

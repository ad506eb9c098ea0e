#include "tests/support/test_machine.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"

extern char** environ;

namespace testsupport {

std::string MakeTempDir(const std::string& prefix) {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return std::string();
  return std::string(buffer.data());
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  // Read-only files and directories must not keep a test's tree alive.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path, ec);
}

TestMachine::TestMachine(bool virtual_clock) {
  dir_ = MakeTempDir("mevrid-machine");
  std::string error;
  if (!emu::OpenMachine(dir_, true, &error)) ADD_FAILURE() << "cannot create machine: " << error;
  emu::SetSetting("clock", virtual_clock ? "virtual" : "real");
  setenv("MEVRID_MACHINE", dir_.c_str(), 1);
  unsetenv("SystemRoot");
  // The user locale of a test machine is the machine's own setting, whatever
  // locale the host running the tests has.
  unsetenv("LC_ALL");
  unsetenv("LC_CTYPE");
  unsetenv("LANG");
}

TestMachine::~TestMachine() {
  emu::CloseMachine();
  unsetenv("MEVRID_MACHINE");
  RemoveTree(dir_);
}

std::string TestMachine::HostPath(const std::string& windows_path) const {
  std::string rest = windows_path;
  if (rest.size() >= 2 && rest[1] == ':') rest = rest.substr(2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  return DriveC() + rest;
}

std::string TestMachine::Export(const std::string& key) const {
  std::string text, error;
  if (!emu::admin::ExportRegText(key, &text, &error)) return "export failed: " + error;
  return text;
}

void TestMachine::Import(const std::string& reg_text) const {
  std::string error;
  ASSERT_TRUE(emu::admin::ImportRegText(reg_text, &error)) << error;
}

long long TestMachine::NowMs() const { return emu::NowMs(); }

ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::vector<std::string>& env) {
  ProcessResult result;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    for (const std::string& entry : env) {
      size_t eq = entry.find('=');
      if (eq == std::string::npos)
        unsetenv(entry.c_str());
      else
        setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_streams = 2;
  char buffer[4096];
  while (open_streams > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string ToolPath() { return MEVRID_TOOL; }
std::string MachineToolPath() { return MEVRID_MACHINE_TOOL; }
std::string HelpersDir() { return MEVRID_TEST_HELPERS_DIR; }
std::string ReleaseDir() { return MEVRID_RELEASE_DIR; }

std::string MakeReleaseCopy(const std::string& parent) {
  std::string dir = parent + "/release";
  std::error_code ec;
  std::filesystem::create_directories(dir + "/nt_node", ec);
  std::filesystem::copy_file(ReleaseDir() + "/mevrid.exe", dir + "/mevrid.exe",
                             std::filesystem::copy_options::overwrite_existing, ec);
  std::filesystem::copy_file(ReleaseDir() + "/nt_node/qelmot32.dll", dir + "/nt_node/qelmot32.dll",
                             std::filesystem::copy_options::overwrite_existing, ec);
  std::filesystem::copy_file(ReleaseDir() + "/nt_node/vtrin.sys", dir + "/nt_node/vtrin.sys",
                             std::filesystem::copy_options::overwrite_existing, ec);
  return dir;
}

std::string ReadFile(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFile(const std::string& host_path, const std::string& contents, bool executable) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(host_path).parent_path(), ec);
  {
    std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << contents;
  }
  if (executable) chmod(host_path.c_str(), 0755);
  return true;
}

bool FileExists(const std::string& host_path) {
  struct stat st;
  return stat(host_path.c_str(), &st) == 0;
}

std::vector<pid_t> ProgramsRunningFrom(const std::string& host_dir) {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (!proc) return pids;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/%ld/exe", pid);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (strncmp(target, host_dir.c_str(), host_dir.size()) == 0) pids.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return pids;
}

}  // namespace testsupport

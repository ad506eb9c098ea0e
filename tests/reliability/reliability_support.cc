#include "tests/reliability/reliability_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "tests/support/text_lines.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

// Lines travel from the workers separated by this byte, so a line may hold
// line feeds (a tool's whole output, say).
constexpr char kLineSeparator = '\x1e';
constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

bool CopyFileKeepingTimes(const std::string& from, const std::string& to, const struct stat& st) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return false;
  }
  bool ok = true;
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  close(in);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ok = ok && fchmod(out, st.st_mode & 07777) == 0 && futimens(out, times) == 0;
  return close(out) == 0 && ok;
}

// A file's bytes, digested. Large files (the tool's copy) are told apart by
// size and last-write time alone: every copy the emulation makes is whole
// (written aside, then renamed into place) and keeps its source's time, and
// reading megabytes for every run would cost more than the run.
std::string Digest(const std::string& host_path, const struct stat& st) {
  if (st.st_size > (1 << 16)) return "not read";
  char text[32];
  snprintf(text, sizeof text, "%016zx", std::hash<std::string_view>()(testsupport::ReadFile(host_path)));
  return text;
}

std::string FileLine(const std::string& windows_path, const std::string& host_path, const struct stat& st) {
  char time[48];
  snprintf(time, sizeof time, "%lld.%09ld", static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
  return windows_path + ": " + std::to_string(st.st_size) + " bytes" + ((st.st_mode & 0200) ? "" : ", read-only") +
         ", " + Digest(host_path, st) + ", written " + time;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return text;
}

const char* StateName(uint32_t state) {
  switch (state) {
    case 1:
      return "stopped";
    case 2:
      return "start-pending";
    case 3:
      return "stop-pending";
    case 4:
      return "running";
    default:
      return "other";
  }
}

bool HostFileExists(const std::string& below_windows) {
  return testsupport::FileExists(emu::DriveDirectory('c') + "/WINDOWS/" + below_windows);
}

}  // namespace

Lab::Lab(const std::string& prefix) {
  if (access("/dev/shm", W_OK) == 0) {
    std::string pattern = "/dev/shm/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data())) dir_ = pattern;
  }
  if (dir_.empty()) dir_ = testsupport::MakeTempDir(prefix);
  release_ = testsupport::MakeReleaseCopy(dir_);
}

Lab::~Lab() { testsupport::RemoveTree(dir_); }

OpenedMachine::OpenedMachine(const std::string& dir, bool create) : dir_(dir) {
  std::string error;
  ok_ = emu::OpenMachine(dir, create, &error);
  if (!ok_) {
    fprintf(stderr, "cannot open the machine %s: %s\n", dir.c_str(), error.c_str());
    return;
  }
  if (create) emu::SetSetting("clock", "virtual");
}

OpenedMachine::~OpenedMachine() { emu::CloseMachine(); }

std::string OpenedMachine::Host(const std::string& windows_path) const {
  std::string rest = windows_path.size() >= 2 && windows_path[1] == ':' ? windows_path.substr(2) : windows_path;
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return dir_ + "/drive_c" + rest;
}

bool CopyMachine(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (ec) return false;
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string source = it->path().string();
    const std::string target = to + source.substr(from.size());
    struct stat st;
    if (lstat(source.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
      if (mkdir(target.c_str(), st.st_mode & 07777) != 0 && errno != EEXIST) return false;
    } else if (S_ISREG(st.st_mode)) {
      if (!CopyFileKeepingTimes(source, target, st)) return false;
    }
  }
  return !ec;
}

testsupport::ProcessResult RunTool(const Lab& lab, const std::string& machine_dir, const std::vector<std::string>& args,
                                   const std::vector<std::string>& env) {
  std::vector<std::string> argv{"mevrid.exe"};
  argv.insert(argv.end(), args.begin(), args.end());
  // A fresh run: no token of a lock holder, whatever this process holds.
  std::vector<std::string> environment{"MEVRID_MACHINE=" + machine_dir, "SystemRoot", "MEVRID_INSTALL_LOCK"};
  environment.insert(environment.end(), env.begin(), env.end());
  return testsupport::RunProgram(argv, lab.release(), environment);
}

std::string DescribeDifference(const EndState& expected, const EndState& actual) {
  std::string text;
  auto compare = [&text](const char* what, const std::string& want, const std::string& got) {
    if (want == got) return;
    std::vector<std::string> a = testsupport::SplitLines(want), b = testsupport::SplitLines(got);
    for (const std::string& line : a)
      if (std::find(b.begin(), b.end(), line) == b.end()) text += std::string(what) + " missing: " + line + "\n";
    for (const std::string& line : b)
      if (std::find(a.begin(), a.end(), line) == a.end()) text += std::string(what) + " extra:   " + line + "\n";
  };
  compare("keys", expected.component_keys, actual.component_keys);
  compare("services", expected.services, actual.services);
  compare("files", expected.files, actual.files);
  return text;
}

namespace {

// The Windows paths that the next restart deletes (the pending file
// operations with no target).
std::vector<std::string> DeletedAtRestart() {
  emu::admin::RegValue pending;
  std::vector<std::string> paths;
  if (!emu::admin::ReadValue(kSessionManagerKey, "PendingFileRenameOperations", &pending)) return paths;
  for (const auto& [source, target] : testsupport::PendingRenamePairs(pending.data))
    if (!source.empty() && target.empty()) paths.push_back(source.rfind("\\??\\", 0) == 0 ? source.substr(4) : source);
  return paths;
}

}  // namespace

EndState CaptureEndState(FileScope scope) {
  EndState state;
  std::string error;
  if (!emu::admin::ExportRegText(kComponentKey, &state.component_keys, &error)) state.component_keys = kNoComponentKey;
  for (const emu::admin::ServiceInfo& service : emu::admin::ListServices()) {
    state.services += service.name + " " + StateName(service.state) + (service.marked_for_delete ? " marked" : "") +
                      " type=" + std::to_string(service.type) + " start=" + std::to_string(service.start_type) +
                      " error=" + std::to_string(service.error_control) + " group=" + service.group +
                      " depends=" + Joined(service.depends) + " display=" + service.display +
                      " image=" + service.image + "\n";
  }
  const std::string drive = emu::DriveDirectory('c');
  const std::vector<std::string> deleted = DeletedAtRestart();
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(scope == FileScope::kWholeDrive ? drive : drive + "/WINDOWS", ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st;
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::string windows_path = "C:" + it->path().string().substr(drive.size());
    std::replace(windows_path.begin(), windows_path.end(), '/', '\\');
    if (std::any_of(deleted.begin(), deleted.end(),
                    [&windows_path](const std::string& path) { return emu::EqualsNoCase(path, windows_path); }))
      continue;
    files.push_back(FileLine(windows_path, it->path().string(), st));
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) state.files += file + "\n";
  return state;
}

std::vector<std::string> FilePaths(const EndState& state) {
  std::vector<std::string> paths;
  for (const std::string& line : testsupport::SplitLines(state.files)) paths.push_back(line.substr(0, line.find(": ")));
  return paths;
}

std::string FileEntry(const EndState& state, const std::string& windows_path) {
  for (const std::string& line : testsupport::SplitLines(state.files)) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos && emu::EqualsNoCase(line.substr(0, colon), windows_path))
      return line.substr(colon + 2);
  }
  return "";
}

size_t MachineDigest() {
  std::string registry, error;
  emu::admin::ExportRegText("", &registry, &error);
  EndState state = CaptureEndState();
  return std::hash<std::string>()(registry + '\0' + state.services + '\0' + state.files);
}

bool Restart() {
  std::string error;
  return emu::admin::Reboot(&error);
}

std::vector<std::string> RegisteredReferences() {
  std::vector<std::string> references;
  emu::admin::RegKey key;
  if (!emu::admin::ReadKey(kReferencesKey, &key)) return references;
  for (const std::string& name : key.subkeys)
    references.push_back(name + "=" +
                         emu::admin::ReadString(std::string(kReferencesKey) + "\\" + name, "PreProcImage"));
  return references;
}

std::string RecordedVersion() { return emu::admin::ReadString(kVersionKey, "Version"); }

bool KeyExists(const std::string& key_path) { return emu::admin::KeyExists(key_path); }

std::string IntegrityCheck() { return emu::admin::CheckDatabase().integrity; }

int64_t TotalCallCount() {
  int64_t total = 0;
  for (const auto& [operation, calls] : emu::CallCounts()) total += calls;
  return total;
}

int64_t FirstRuleHits() {
  std::vector<emu::FaultRuleInfo> rules = emu::ListFaultRules();
  return rules.empty() ? 0 : rules[0].hits;
}

std::vector<std::string> CheckRunInvariants(const testsupport::ProcessResult& run, const Expectations& expect) {
  std::vector<std::string> broken;
  if (run.status != 0 && run.status != 1)
    broken.push_back("exit status " + std::to_string(run.status) + ", stderr: " + run.err);
  const bool says_ok = run.out.find("No errors encountered.\n\n") != std::string::npos;
  const bool says_failed = run.out.find("Encountered errors -\n") != std::string::npos;
  if (run.status == 0 && (!says_ok || says_failed)) broken.push_back("exit status 0 but the summary is no success");
  if (run.status == 1 && says_ok)
    broken.push_back("exit status 1 but the summary says \"No errors encountered.\"" +
                     (run.err.empty() ? std::string() : ", stderr: " + run.err));
  if (run.status == 1 && run.out.find("Complete: ") != std::string::npos && !says_failed)
    broken.push_back("exit status 1 but the summary lists no errors");

  const std::vector<std::string> references = RegisteredReferences();
  auto registered = [&references](const std::string& entry) {
    return std::find(references.begin(), references.end(), entry) != references.end();
  };
  for (const std::string& kept : expect.kept)
    if (!registered(kept)) broken.push_back("lost the reference " + kept);

  if (run.status == 0) {
    if (!expect.installed.empty() && !registered(expect.installed))
      broken.push_back("reported success, but " + expect.installed + " is not registered");
    if (!expect.removed.empty()) {
      for (const std::string& entry : references)
        if (entry.rfind(expect.removed + "=", 0) == 0) broken.push_back("reported success, but " + entry + " stays");
    }
    if (!references.empty()) {
      // A registered reference promises its product a component.
      if (RecordedVersion() != "4.0")
        broken.push_back("reported success with references but version \"" + RecordedVersion() + "\"");
      for (const char* file : {"mevrid.exe", "system32/qelmot32.dll", "system32/drivers/vtrin.sys"})
        if (!HostFileExists(file)) broken.push_back(std::string("reported success with references but no ") + file);
      emu::admin::ServiceInfo info;
      std::string error;
      if (!emu::admin::QueryService("vtrin", &info, &error))
        broken.push_back("reported success with references but no driver service");
    }
  }
  std::string integrity = IntegrityCheck();
  if (integrity != "ok") broken.push_back("integrity check: " + integrity);
  return broken;
}

std::vector<std::string> RunInWorkers(int workers, const std::function<bool(int, std::vector<std::string>*)>& job) {
  emu::CloseMachine();
  fflush(stdout);
  fflush(stderr);
  struct Worker {
    pid_t pid;
    int fd;
    std::string data;
  };
  std::vector<Worker> running;
  std::vector<std::string> lines;
  for (int w = 0; w < workers; ++w) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      lines.push_back("F cannot make a pipe for a worker");
      break;
    }
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      for (int i = w;; i += workers) {
        std::vector<std::string> out;
        bool more = job(i, &out);
        std::string data;
        for (const std::string& line : out) data += line + kLineSeparator;
        for (size_t done = 0; done < data.size();) {
          ssize_t n = write(fds[1], data.data() + done, data.size() - done);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) _exit(3);
          done += static_cast<size_t>(n);
        }
        if (!more) break;
      }
      _exit(0);
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      lines.push_back("F cannot fork a worker");
      break;
    }
    running.push_back({pid, fds[0], {}});
  }
  std::vector<struct pollfd> polls;
  for (const Worker& worker : running) polls.push_back({worker.fd, POLLIN, 0});
  size_t open_count = polls.size();
  char buffer[1 << 14];
  while (open_count > 0) {
    if (poll(polls.data(), polls.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = 0; i < polls.size(); ++i) {
      if (polls[i].fd < 0 || !(polls[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(polls[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        running[i].data.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(polls[i].fd);
        polls[i].fd = -1;
        --open_count;
      }
    }
  }
  for (Worker& worker : running) {
    int status = 0;
    while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    size_t start = 0;
    for (size_t end; (end = worker.data.find(kLineSeparator, start)) != std::string::npos; start = end + 1)
      lines.push_back(worker.data.substr(start, end - start));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      lines.push_back("F a worker ended abnormally (status " + std::to_string(status) + ")");
  }
  return lines;
}

int WorkerCount() {
  const char* text = getenv("MEVRID_RELIABILITY_JOBS");
  int jobs = text && *text ? atoi(text) : 2;
  return std::clamp(jobs, 1, 64);
}

int FaultStride() {
  const char* text = getenv("MEVRID_FAULT_MATRIX_STRIDE");
  if (text && *text) return std::max(atoi(text), 1);
    // Under AddressSanitizer every run costs several times as much: a sample
    // of every third call keeps the suite's time.
#if defined(__SANITIZE_ADDRESS__)
  return 3;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return 3;
#endif
#endif
  return 1;
}

bool PutHelper(const OpenedMachine& machine, const std::string& helper, const std::string& windows_path) {
  const std::string to = machine.Host(windows_path);
  std::error_code ec;
  fs::create_directories(fs::path(to).parent_path(), ec);
  if (!fs::copy_file(testsupport::HelpersDir() + "/" + helper, to, fs::copy_options::overwrite_existing, ec))
    return false;
  return chmod(to.c_str(), 0755) == 0;
}

}  // namespace reliability

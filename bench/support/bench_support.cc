#include "bench/support/bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "component/component_keys.h"
#include "platform/posix/admin.h"
#include "tests/support/test_machine.h"

extern char** environ;

namespace benchsupport {

bool ResetPeakRss() {
  // "5" resets the high-water mark to the current resident size (Linux 4.0+).
  int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, "5", 1) == 1;
  close(fd);
  return ok;
}

int64_t PeakRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmHWM:") == 0) return strtoll(line.c_str() + 6, nullptr, 10);
  return 0;
}

void PeakMemory::Report(benchmark::State& state) const {
  state.counters["peak_rss_kb"] = benchmark::Counter(static_cast<double>(PeakRssKb()));
  if (child_rss_kb_ != 0) state.counters["child_rss_kb"] = benchmark::Counter(static_cast<double>(child_rss_kb_));
}

namespace {

// Starts argv with posix_spawn; stdout_fd (or /dev/null) becomes its output.
pid_t Spawn(const std::string& program, const std::vector<std::string>& argv, const std::string& cwd,
            int stdout_fd) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int WaitStatus(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int SpawnAndWait(const std::string& program, const std::vector<std::string>& argv, const std::string& cwd) {
  pid_t pid = Spawn(program, argv, cwd, -1);
  return pid < 0 ? -1 : WaitStatus(pid);
}

int64_t ChildPeakRssKb(const std::string& program, const std::vector<std::string>& argv, const std::string& cwd,
                       int* status) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  std::vector<std::string> probe_argv = {MEVRID_RSS_PROBE, program};
  probe_argv.insert(probe_argv.end(), argv.begin() + (argv.empty() ? 0 : 1), argv.end());
  pid_t pid = Spawn(MEVRID_RSS_PROBE, probe_argv, cwd, out[1]);
  close(out[1]);
  std::string text;
  char buffer[128];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  if (pid < 0 || WaitStatus(pid) != 0) return -1;
  long long kb = -1;
  int child_status = -1;
  if (sscanf(text.c_str(), "%lld %d", &kb, &child_status) != 2) return -1;
  if (status) *status = child_status;
  return kb;
}

PlainDatabase::PlainDatabase() {
  dir_ = testsupport::MakeTempDir("mevrid-bench-db");
  path_ = dir_ + "/plain.db";
  if (dir_.empty() || sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    return;
  }
  sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "CREATE TABLE rows(id INTEGER PRIMARY KEY, text TEXT NOT NULL)", nullptr, nullptr, nullptr);
  if (sqlite3_prepare_v2(db_, "INSERT INTO rows(id, text) VALUES(?1, ?2) ON CONFLICT(id) DO UPDATE SET text=?2", -1,
                         &insert_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, "DELETE FROM rows WHERE id=?1", -1, &delete_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, "SELECT text FROM rows WHERE id=?1", -1, &select_, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

PlainDatabase::~PlainDatabase() {
  sqlite3_finalize(select_);
  sqlite3_finalize(insert_);
  sqlite3_finalize(delete_);
  sqlite3_close(db_);
  if (!dir_.empty()) testsupport::RemoveTree(dir_);
}

bool PlainDatabase::InTransaction(sqlite3_stmt* statement) {
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  return sqlite3_exec(db_, done ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK && done;
}

bool PlainDatabase::InsertRow(int64_t id, const std::string& text) {
  sqlite3_bind_int64(insert_, 1, id);
  sqlite3_bind_text(insert_, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return InTransaction(insert_);
}

bool PlainDatabase::DeleteRow(int64_t id) {
  sqlite3_bind_int64(delete_, 1, id);
  return InTransaction(delete_);
}

bool PlainDatabase::ReadRow(int64_t id, std::string* text) {
  sqlite3_bind_int64(select_, 1, id);
  bool found = sqlite3_step(select_) == SQLITE_ROW;
  if (found) *text = reinterpret_cast<const char*>(sqlite3_column_text(select_, 0));
  sqlite3_reset(select_);
  return found;
}

bool PlainDatabase::WriteRows(int64_t n) {
  for (int64_t i = 1; i <= n; ++i)
    if (!InsertRow(i, "row")) return false;
  return true;
}

CommitCounter::CommitCounter() { emu::admin::SetCommitHook(&CommitCounter::OnCommit, this); }
CommitCounter::~CommitCounter() { emu::admin::SetCommitHook(nullptr, nullptr); }
int CommitCounter::OnCommit(void* self) {
  ++static_cast<CommitCounter*>(self)->commits_;
  return 0;  // let the commit go through
}

bool CopyHostFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return false;
  struct stat st {};
  if (stat(from.c_str(), &st) != 0) return false;
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  return utimensat(AT_FDCWD, to.c_str(), times, 0) == 0;
}

std::string TrivialProgramHostPath() { return testsupport::HelpersDir() + "/exit_with"; }

std::string InstallPreProc(const std::string& drive_c) {
  std::string target = drive_c + "/Bench/preproc.exe";
  if (!testsupport::WriteFile(target, testsupport::ReadFile(TrivialProgramHostPath()), true)) return "";
  return target;
}

bool SeedReferences(int64_t n, const std::string& image) {
  emu::admin::Batch batch;
  if (!emu::admin::CreateKey(kKotaReferencesKey, "REG_SZ")) return false;
  for (int64_t i = 0; i < n; ++i) {
    char name[32];
    snprintf(name, sizeof name, "PRODUCT%05lld", static_cast<long long>(i));
    std::string key = std::string(kKotaReferencesKey) + "\\" + name;
    // Stored as the tool stores it: REG_EXPAND_SZ without a terminator.
    if (!emu::admin::CreateKey(key, "REG_SZ") || !emu::admin::SetValue(key, "PreProcImage", 2, image)) return false;
  }
  return batch.Commit();
}

}  // namespace benchsupport

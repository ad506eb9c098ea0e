// A full install and a full removal on a machine with a virtual clock (so
// the driver's start and stop polls take no real time), and the tool's
// start-up. Each is measured two ways:
//   in-process   InstallComponent / UninstallComponent called directly, quiet;
//   tool         the built mevrid.exe run from a release copy, as a user
//                runs it (verbose, its output to /dev/null).
// The install is a first install on a clean machine (no reference to tell);
// the removal removes the last reference, so its pre-processor is told "-e"
// and the component goes.
//
// The floor of an install or removal is what it cannot avoid on this
// platform: the same number of durable SQLite commits as the procedure makes
// (counted on the machine's connection in a run before the timing) as
// single-row transactions on a plain database, the three files copied (or
// deleted) on the host, and for the removal one start of the pre-processor;
// for the tool, a C program that only returns 0 is started and waited for
// besides. The floor of the start-up ("-o") is that C program alone.
// tool_install_journal sets the install with its record and log against
// the same install without them; tool_upgrade_rollback sets a successful
// upgrade in the all-or-nothing mode (MEVRID_ROLLBACK=on) against the same
// upgrade without it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/support/bench_support.h"
#include "component/install.h"
#include "component/uninstall.h"
#include "tests/support/test_machine.h"

namespace {

constexpr const char* kReference = "BENCHPRODUCT";
const char* const kReleaseFiles[] = {"mevrid.exe", "nt_node/qelmot32.dll", "nt_node/vtrin.sys"};

// A machine, a private release directory as the current directory (the
// procedures take their release files from it), and the pre-processor.
class Workspace {
 public:
  Workspace() {
    char cwd[PATH_MAX];
    saved_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    work_ = testsupport::MakeTempDir("mevrid-bench");
    release_ = testsupport::MakeReleaseCopy(work_);
    ok_ = chdir(release_.c_str()) == 0 && !benchsupport::InstallPreProc(machine_.DriveC()).empty();
  }
  ~Workspace() {
    if (chdir(saved_cwd_.c_str()) != 0) perror("chdir");
    testsupport::RemoveTree(work_);
  }
  bool ok() const { return ok_; }
  const std::string& release() const { return release_; }
  const std::string& work() const { return work_; }
  std::string drive_c() const { return machine_.DriveC(); }
  std::string host_path(const std::string& windows_path) const { return machine_.HostPath(windows_path); }

 private:
  testsupport::TestMachine machine_;
  std::string saved_cwd_, work_, release_;
  bool ok_ = false;
};

std::vector<std::string> ToolArgv(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"mevrid.exe"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

bool Install() { return InstallComponent(kReference, benchsupport::kPreProcImage, 0) == 1; }
bool Uninstall() { return UninstallComponent(kReference, 0) == 1; }

// The commits of one install and of one removal on a fresh machine.
struct CommitCounts {
  int64_t install = -1, uninstall = -1;
};
CommitCounts CountCommits() {
  CommitCounts counts;
  Workspace space;
  if (!space.ok()) return counts;
  {
    benchsupport::CommitCounter counter;
    if (Install()) counts.install = counter.commits();
  }
  {
    benchsupport::CommitCounter counter;
    if (Uninstall()) counts.uninstall = counter.commits();
  }
  return counts;
}

// The tool from the release copy, in it; its exit status.
int RunTool(const Workspace& space, const std::vector<std::string>& args) {
  return benchsupport::SpawnAndWait(space.release() + "/mevrid.exe", ToolArgv(args), space.release());
}
int64_t ToolPeakRssKb(const Workspace& space, const std::vector<std::string>& args) {
  int status = -1;
  int64_t kb = benchsupport::ChildPeakRssKb(space.release() + "/mevrid.exe", ToolArgv(args), space.release(), &status);
  return status == 0 ? kb : -1;
}

// --- In-process ---------------------------------------------------------------

void InstallOrSkip(benchmark::State& state) {
  if (!Install()) state.SkipWithError("InstallComponent failed");
}
void UninstallOrSkip(benchmark::State& state) {
  if (!Uninstall()) state.SkipWithError("UninstallComponent failed");
}

enum class Step { Install, Uninstall };

// The step timed alone: an install undone outside the timing, or a removal
// of a fresh install.
void ProcedureOurs(benchmark::State& state, Step step) {
  Workspace space;
  if (!space.ok()) return state.SkipWithError("cannot set up the machine");
  benchsupport::PeakMemory memory;
  auto install = [&] { InstallOrSkip(state); };
  auto uninstall = [&] { UninstallOrSkip(state); };
  if (step == Step::Install)
    benchsupport::TimeThenUndo(state, install, uninstall);
  else
    benchsupport::PrepareThenTime(state, install, uninstall);
  memory.Report(state);
}

void InstallOurs(benchmark::State& state) { ProcedureOurs(state, Step::Install); }
void UninstallOurs(benchmark::State& state) { ProcedureOurs(state, Step::Uninstall); }

// The floor's file work: the three release files copied into (or deleted
// from) a target directory.
bool CopyReleaseFiles(const std::string& release, const std::string& target) {
  for (const char* file : kReleaseFiles) {
    std::string name = std::string(file).substr(std::string(file).rfind('/') + 1);
    if (!benchsupport::CopyHostFile(release + "/" + file, target + "/" + name)) return false;
  }
  return true;
}
bool DeleteCopiedFiles(const std::string& target) {
  for (const char* file : kReleaseFiles) {
    std::string name = std::string(file).substr(std::string(file).rfind('/') + 1);
    if (unlink((target + "/" + name).c_str()) != 0) return false;
  }
  return true;
}

void ProcedureFloor(benchmark::State& state, Step step, bool with_process) {
  CommitCounts counts = CountCommits();
  int64_t commits = step == Step::Install ? counts.install : counts.uninstall;
  if (commits < 0) return state.SkipWithError("cannot count the procedure's commits");
  Workspace space;
  benchsupport::PlainDatabase db;
  const std::string target = space.work();
  const std::string program = benchsupport::TrivialProgramHostPath();
  const std::string preproc = space.drive_c() + "/Bench/preproc.exe";
  benchsupport::PeakMemory memory;
  for (auto _ : state) {
    if (step == Step::Uninstall) {
      state.PauseTiming();
      CopyReleaseFiles(space.release(), target);
      state.ResumeTiming();
    }
    if (with_process && benchsupport::SpawnAndWait(program, {program}) != 0)
      state.SkipWithError("the C program failed");
    // The removal tells the last reference's pre-processor "-e".
    if (step == Step::Uninstall && benchsupport::SpawnAndWait(preproc, {preproc, "-e", "-q"}) != 0)
      state.SkipWithError("the pre-processor failed");
    if (!db.WriteRows(commits)) state.SkipWithError("plain database write failed");
    bool files = step == Step::Install ? CopyReleaseFiles(space.release(), target) : DeleteCopiedFiles(target);
    if (!files) state.SkipWithError("host file copy failed");
    if (step == Step::Install) {
      state.PauseTiming();
      DeleteCopiedFiles(target);
      state.ResumeTiming();
    }
  }
  state.counters["commits"] = benchmark::Counter(static_cast<double>(commits));
  if (with_process) memory.NoteChild(benchsupport::ChildPeakRssKb(program, {program}));
  memory.Report(state);
}

void InstallFloor(benchmark::State& state) { ProcedureFloor(state, Step::Install, false); }
void UninstallFloor(benchmark::State& state) { ProcedureFloor(state, Step::Uninstall, false); }

// --- The built tool -------------------------------------------------------------

const std::vector<std::string> kInstallArgs = {"-k", kReference, "-p", benchsupport::kPreProcImage};
const std::vector<std::string> kRemoveArgs = {"-k", kReference, "-r"};

void ToolInstallOurs(benchmark::State& state) {
  Workspace space;
  if (!space.ok()) return state.SkipWithError("cannot set up the machine");
  benchsupport::PeakMemory memory;
  benchsupport::TimeThenUndo(
      state,
      [&] {
        if (RunTool(space, kInstallArgs) != 0) state.SkipWithError("mevrid.exe install failed");
      },
      [&] { UninstallOrSkip(state); });
  memory.NoteChild(ToolPeakRssKb(space, kInstallArgs));
  memory.Report(state);
}

void ToolUninstallOurs(benchmark::State& state) {
  Workspace space;
  if (!space.ok()) return state.SkipWithError("cannot set up the machine");
  benchsupport::PeakMemory memory;
  benchsupport::PrepareThenTime(
      state, [&] { InstallOrSkip(state); },
      [&] {
        if (RunTool(space, kRemoveArgs) != 0) state.SkipWithError("mevrid.exe removal failed");
      });
  if (Install()) memory.NoteChild(ToolPeakRssKb(space, kRemoveArgs));
  memory.Report(state);
}

void ToolInstallFloor(benchmark::State& state) { ProcedureFloor(state, Step::Install, true); }

// The same install with the record and the log on, against it with them off:
// what keeping the run's journal costs. The tool inherits the variables.
void ToolInstallJournal(benchmark::State& state, bool on) {
  Workspace space;
  if (!space.ok()) return state.SkipWithError("cannot set up the machine");
  if (on) {
    setenv("MEVRID_RESULT_FILE", (space.work() + "/result.json").c_str(), 1);
    setenv("MEVRID_LOG", (space.work() + "/run.log").c_str(), 1);
  }
  for (auto _ : state) {
    if (RunTool(space, kInstallArgs) != 0) state.SkipWithError("mevrid.exe install failed");
    state.PauseTiming();
    if (!Uninstall()) state.SkipWithError("UninstallComponent failed");
    state.ResumeTiming();
  }
  unsetenv("MEVRID_RESULT_FILE");
  unsetenv("MEVRID_LOG");
}
void ToolInstallJournalOn(benchmark::State& state) { ToolInstallJournal(state, true); }
void ToolInstallJournalOff(benchmark::State& state) { ToolInstallJournal(state, false); }
void ToolUninstallFloor(benchmark::State& state) { ProcedureFloor(state, Step::Uninstall, true); }

// The CPU time (user and system, µs) of the child processes waited for so
// far, their own children included: the tool's and its pre-processors'.
double ChildCpuUs() {
  struct rusage usage;
  if (getrusage(RUSAGE_CHILDREN, &usage) != 0) return 0;
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

// A successful upgrade with the all-or-nothing mode on, against the same
// upgrade with it off: what setting the old files aside (renames), keeping
// the old state in hand and the marker's extra entry cost when nothing
// fails. The component is installed for the case's reference and one more
// product; before each run, untimed, the installed library is made older than
// the release's, so every run is a full upgrade (both products told "-e" and
// "-b", the three files replaced, the driver created anew). Besides the wall
// clock, the runs' CPU time (child_cpu_us per run), which another load on
// the machine moves far less.
void ToolUpgradeRollback(benchmark::State& state, bool on) {
  Workspace space;
  if (!space.ok()) return state.SkipWithError("cannot set up the machine");
  if (!Install() || InstallComponent("OTHERPRODUCT", benchsupport::kPreProcImage, 0) != 1)
    return state.SkipWithError("cannot install the component to upgrade");
  const std::string library = space.host_path("C:\\WINDOWS\\system32\\qelmot32.dll");
  // 2001-01-01: older than any release file.
  const struct timespec old_times[2] = {{978307200, 0}, {978307200, 0}};
  if (on) setenv("MEVRID_ROLLBACK", "on", 1);
  const double cpu_before = ChildCpuUs();
  for (auto _ : state) {
    state.PauseTiming();
    if (utimensat(AT_FDCWD, library.c_str(), old_times, 0) != 0) state.SkipWithError("cannot age the library");
    state.ResumeTiming();
    if (RunTool(space, kInstallArgs) != 0) state.SkipWithError("mevrid.exe upgrade failed");
  }
  unsetenv("MEVRID_ROLLBACK");
  state.counters["child_cpu_us"] = benchmark::Counter(ChildCpuUs() - cpu_before, benchmark::Counter::kAvgIterations);
  // The release's library is in place again: the runs were upgrades.
  struct stat st;
  if (stat(library.c_str(), &st) != 0 || st.st_mtime == old_times[1].tv_sec)
    state.SkipWithError("the library was not replaced: no upgrade ran");
}
void ToolUpgradeRollbackOn(benchmark::State& state) { ToolUpgradeRollback(state, true); }
void ToolUpgradeRollbackOff(benchmark::State& state) { ToolUpgradeRollback(state, false); }

// The start-up: "-o" ends at once, so this is what the tool costs before it
// does anything at all.
void StartupOurs(benchmark::State& state) {
  Workspace space;
  if (!space.ok()) return state.SkipWithError("cannot set up the machine");
  benchsupport::PeakMemory memory;
  for (auto _ : state)
    if (RunTool(space, {"-o"}) != 0) state.SkipWithError("mevrid.exe -o failed");
  memory.NoteChild(ToolPeakRssKb(space, {"-o"}));
  memory.Report(state);
}

void StartupFloor(benchmark::State& state) {
  const std::string program = benchsupport::TrivialProgramHostPath();
  benchsupport::PeakMemory memory;
  for (auto _ : state)
    if (benchsupport::SpawnAndWait(program, {program}) != 0) state.SkipWithError("the C program failed");
  memory.NoteChild(benchsupport::ChildPeakRssKb(program, {program}));
  memory.Report(state);
}

template <typename Function>
void Register(const char* name, Function function) {
  benchmark::RegisterBenchmark(name, function)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

const bool registered = [] {
  Register("install/ours", InstallOurs);
  Register("install/floor", InstallFloor);
  Register("uninstall/ours", UninstallOurs);
  Register("uninstall/floor", UninstallFloor);
  Register("tool_install/ours", ToolInstallOurs);
  Register("tool_install/floor", ToolInstallFloor);
  Register("tool_install_journal/ours", ToolInstallJournalOn);
  Register("tool_install_journal/floor", ToolInstallJournalOff);
  Register("tool_upgrade_rollback/ours", ToolUpgradeRollbackOn);
  Register("tool_upgrade_rollback/floor", ToolUpgradeRollbackOff);
  Register("tool_uninstall/ours", ToolUninstallOurs);
  Register("tool_uninstall/floor", ToolUninstallFloor);
  Register("startup/ours", StartupOurs);
  Register("startup/floor", StartupFloor);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

// What the benchmarks share: the floors they are held against (bare host
// process starts, single-row transactions on a plain SQLite database, plain
// file copies), peak-memory readings, and the set-up of an emulated machine
// with references and a trivial pre-processor on its C: drive.
//
// Every case is registered twice, "<case>/ours" and "<case>/floor", with the
// same size argument; bench/run pairs them by name into one table row. Both
// report their peak memory as counters:
//   peak_rss_kb   the benchmark process's own high-water mark during the case
//                 (VmHWM, reset through /proc/self/clear_refs before it): what
//                 an in-process case needs;
//   child_rss_kb  the peak resident size of the program a case starts (one
//                 extra run through rss_probe after the timing).
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace benchsupport {

// --- Peak memory ------------------------------------------------------------

// Resets the process's resident high-water mark, so that the next reading
// covers only what follows. false where the kernel does not allow it (the
// reading then covers the process's whole life so far).
bool ResetPeakRss();
// The resident high-water mark (VmHWM) in KiB, 0 when unknown.
int64_t PeakRssKb();

// Resets the mark at construction; Report() writes peak_rss_kb and, when a
// child was waited for, child_rss_kb into the benchmark's counters.
class PeakMemory {
 public:
  PeakMemory() { ResetPeakRss(); }
  void NoteChild(int64_t child_rss_kb) { child_rss_kb_ = child_rss_kb; }
  void Report(benchmark::State& state) const;

 private:
  int64_t child_rss_kb_ = 0;
};

// --- Iterations with untimed work ---------------------------------------------

// Each iteration runs `prepare` outside the timing, then times `timed`: a
// removal timed on a fresh install.
template <typename Prepare, typename Timed>
void PrepareThenTime(benchmark::State& state, Prepare prepare, Timed timed) {
  for (auto _ : state) {
    state.PauseTiming();
    prepare();
    state.ResumeTiming();
    timed();
  }
}

// Each iteration times `timed`, then runs `undo` outside the timing: an
// install undone before the next one.
template <typename Timed, typename Undo>
void TimeThenUndo(benchmark::State& state, Timed timed, Undo undo) {
  for (auto _ : state) {
    timed();
    state.PauseTiming();
    undo();
    state.ResumeTiming();
  }
}

// --- Host processes -----------------------------------------------------------

// posix_spawn of program (a host path) with argv (argv[0] included) and the
// current environment, standard output and error to /dev/null, working
// directory cwd (empty: this one); waits for its end. Its exit status; 128
// plus the signal when killed; -1 when it could not be started.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& argv, const std::string& cwd = "");

// The peak resident size (KiB) of one run of the program, started the same
// way through rss_probe; -1 when it could not be read. *status, when given,
// receives the run's exit status.
int64_t ChildPeakRssKb(const std::string& program, const std::vector<std::string>& argv,
                       const std::string& cwd = "", int* status = nullptr);

// --- The store's floor ----------------------------------------------------------

// A plain SQLite database in a temporary directory, journalled like the
// emulated machine's (WAL, synchronous=NORMAL), with one table of rows.
class PlainDatabase {
 public:
  PlainDatabase();
  ~PlainDatabase();
  PlainDatabase(const PlainDatabase&) = delete;
  PlainDatabase& operator=(const PlainDatabase&) = delete;

  bool ok() const { return db_ != nullptr; }
  // One BEGIN IMMEDIATE / upsert of one row / COMMIT.
  bool InsertRow(int64_t id, const std::string& text);
  // One BEGIN IMMEDIATE / delete of one row / COMMIT.
  bool DeleteRow(int64_t id);
  // n single-row transactions on rows 1..n (an upsert each), as the floor of
  // n durable writes.
  bool WriteRows(int64_t n);
  // One row read by its key through a statement prepared once.
  bool ReadRow(int64_t id, std::string* text);
  const std::string& path() const { return path_; }

 private:
  bool InTransaction(sqlite3_stmt* statement);
  std::string dir_, path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* delete_ = nullptr;
};

// Counts the commits of the emulated machine's database connection while it
// lives (autocommit statements and outermost transactions alike).
class CommitCounter {
 public:
  CommitCounter();
  ~CommitCounter();
  CommitCounter(const CommitCounter&) = delete;
  CommitCounter& operator=(const CommitCounter&) = delete;
  int64_t commits() const { return commits_; }

 private:
  static int OnCommit(void* self);
  int64_t commits_ = 0;
};

// Copies a host file (content, then the source's modification time), as
// the floor of one CopyFileA.
bool CopyHostFile(const std::string& from, const std::string& to);

// --- The emulated machine ---------------------------------------------------------

// The trivial pre-processor: the test helper that ends at once with status 0
// (its first argument, "-e" or "-b", reads as 0).
std::string TrivialProgramHostPath();
// Windows path of its copy on the machine's C: drive.
constexpr const char* kPreProcImage = "C:\\Bench\\preproc.exe";

// Copies the trivial program to kPreProcImage on the current machine; the
// host path of the copy, or "" on failure.
std::string InstallPreProc(const std::string& drive_c);

// n references "PRODUCT00000".. below the References key, each with
// PreProcImage = image, written in one transaction.
bool SeedReferences(int64_t n, const std::string& image);


}  // namespace benchsupport

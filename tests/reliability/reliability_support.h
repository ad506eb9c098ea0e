// What the reliability tests share: machines kept as directories that are
// copied for every run (a prepared machine is reused hundreds of times), the
// built tool run on one of them, the state a run leaves (the component's
// keys, the services, the Windows directory's files), the invariants every
// run must keep, and work spread over a few worker processes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_machine.h"

namespace reliability {

inline constexpr char kComponentKey[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA";
inline constexpr char kVersionKey[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion";
inline constexpr char kReferencesKey[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References";
// The component's three installed files.
inline constexpr const char* kComponentFilePaths[] = {"C:\\WINDOWS\\mevrid.exe", "C:\\WINDOWS\\system32\\qelmot32.dll",
                                                      "C:\\WINDOWS\\system32\\drivers\\vtrin.sys"};

// The emulated machine's own "crash here" error: a fault rule with it kills
// the process that makes the matching call (see emu::CheckFault).
inline constexpr uint32_t kCrashHere = 0xDEAD0009u;

// A working directory with a private release copy, in memory (/dev/shm) when
// the host has it: the runs sync the machine's database often, and a disk
// makes every sync a wait. Removed with its tree.
class Lab {
 public:
  explicit Lab(const std::string& prefix);
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;
  const std::string& dir() const { return dir_; }
  const std::string& release() const { return release_; }
  // A fresh path below the lab (not created).
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
  std::string release_;
};

// Makes the machine at dir the current machine of this process for the
// guard's life (creating it when asked, with a virtual clock), and closes it
// again, so that a directory can be copied or handed to a child process.
class OpenedMachine {
 public:
  explicit OpenedMachine(const std::string& dir, bool create = false);
  ~OpenedMachine();
  OpenedMachine(const OpenedMachine&) = delete;
  OpenedMachine& operator=(const OpenedMachine&) = delete;
  bool ok() const { return ok_; }
  // Host path of a Windows C: path on this machine.
  std::string Host(const std::string& windows_path) const;

 private:
  std::string dir_;
  bool ok_ = false;
};

// Copies a closed machine (database, drives) keeping file modes and
// last-write times, since the currency check compares those times.
bool CopyMachine(const std::string& from, const std::string& to);

// Runs the lab's release copy of the tool as "mevrid.exe" in the release
// directory on the machine at machine_dir, without "SystemRoot" (so the
// machine's C:\WINDOWS applies) and without an install lock's token, with
// extra environment entries.
testsupport::ProcessResult RunTool(const Lab& lab, const std::string& machine_dir, const std::vector<std::string>& args,
                                   const std::vector<std::string>& env = {});

// What a run leaves that a later run depends on: the component's keys as a
// .reg text, every service with its whole definition (type, start type,
// error control, group, dependencies, display name, image) and its state,
// and every file below C:\WINDOWS (or of the whole drive) with its size,
// read-only bit, a digest of its bytes and its last-write time (a restored
// file must keep its time, since the currency check compares times), one
// line each:
// "C:\WINDOWS\system32\qelmot32.dll: 11 bytes, <digest>, written <time>".
// A file that the next restart deletes is left out: nothing can use it
// before it goes.
// What EndState holds as its keys where no component key is left.
inline constexpr char kNoComponentKey[] = "(no component key)";

struct EndState {
  std::string component_keys;
  std::string services;
  std::string files;
  bool operator==(const EndState& other) const = default;
};
// The line of one file of a state without its path ("" when the state has
// no such file); the path is compared ignoring case, as the machine does.
std::string FileEntry(const EndState& state, const std::string& windows_path);
// The Windows paths of the state's files, in its order.
std::vector<std::string> FilePaths(const EndState& state);
// Differences as lines "what: expected | actual".
std::string DescribeDifference(const EndState& expected, const EndState& actual);

// Reads of the current machine (an OpenedMachine is held).
// The whole drive holds, besides the Windows directory, where a file moved
// out of the way or kept aside by mistake would be left.
enum class FileScope { kWindowsDirectory, kWholeDrive };
EndState CaptureEndState(FileScope scope = FileScope::kWindowsDirectory);
// A digest of everything a following run could depend on: the whole
// registry, the services and the Windows directory's files. Two machines with
// the same digest give the same run.
size_t MachineDigest();
// Restarts the current machine (pending deletions, services); false when the
// restart fails.
bool Restart();

// Registered references with their stored images, "NAME=image", in order.
std::vector<std::string> RegisteredReferences();
bool KeyExists(const std::string& key_path);
// The component's recorded "Version" ("" without one).
std::string RecordedVersion();
std::string IntegrityCheck();  // "ok" when the database is whole
int64_t TotalCallCount();
// Hits of the first fault rule (0 without one).
int64_t FirstRuleHits();

// The invariants of one run of an install or removal, checked on the current
// machine after the run; returns the broken ones, one line each (empty when
// all hold).
struct Expectations {
  std::vector<std::string> kept;  // "NAME=image" entries that must never go
  std::string removed;            // the reference a removal drops, else ""
  std::string installed;          // "NAME=image" a successful install registers, else ""
};
std::vector<std::string> CheckRunInvariants(const testsupport::ProcessResult& run, const Expectations& expect);

// Runs job(i) for i = 0, 1, 2, ... in `workers` forked processes (worker w
// takes w, w + workers, ...) until the job answers false for an i, which
// ends that worker: the jobs are ordered so that once one finds nothing to
// do, no later one will. Each job appends lines to report; returns the lines
// of every worker. The parent must have no machine open while this runs (an
// SQLite connection never crosses a fork).
std::vector<std::string> RunInWorkers(int workers, const std::function<bool(int, std::vector<std::string>*)>& job);

// The number of worker processes (MEVRID_RELIABILITY_JOBS, else 2) and the
// stride of a sampled matrix (MEVRID_FAULT_MATRIX_STRIDE, else 1, or 3 in a
// build with AddressSanitizer).
int WorkerCount();
int FaultStride();

// Copies a test helper program onto the machine at a Windows path.
bool PutHelper(const OpenedMachine& machine, const std::string& helper, const std::string& windows_path);

}  // namespace reliability

// The emulated machine: a directory holding one SQLite database (registry,
// service runtime state, settings, fault rules) and one directory per drive
// ("drive_c" for C:). Every emulated Win32 call reaches its state through the
// current machine of the process, which is opened on first use from
// $MEVRID_MACHINE, else from the per-user default, created with its defaults
// the way Wine creates its prefix.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/win32_api.h"

namespace emu {

struct CachedStatement;

// A prepared statement that finalizes itself. Bind* take 1-based indexes.
// On the machine's own connection it is taken from (and given back to) a
// cache of prepared statements kept by their text, reset and unbound.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, const std::string& text);
  Statement& BindBlob(int index, const void* data, size_t size);
  Statement& BindNull(int index);
  // SQLITE_ROW, SQLITE_DONE, or an error code.
  int Step();
  // Steps to completion; true when it reached SQLITE_DONE.
  bool Run();
  void Reset();
  int64_t Int(int column) const;
  std::string Text(int column) const;
  std::string Blob(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  CachedStatement* cached_ = nullptr;  // the cache slot it came from, if any
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when not committed. Nests: only the
// outermost guard talks to SQLite, so an operation can call helpers that open
// their own guard.
class Transaction {
 public:
  Transaction();
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool ok() const { return ok_; }
  bool Commit();

 private:
  bool ok_ = false;
  bool outermost_ = false;
  bool done_ = false;
};

struct Machine {
  std::string dir;  // absolute path of the machine directory
  sqlite3* db = nullptr;
};

// The machine directory this process uses: $MEVRID_MACHINE, else
// $XDG_DATA_HOME/mevrid/machine, else ~/.mevrid-machine.
std::string DefaultMachineDir();

// Opens (creating directory, database and defaults when asked) the machine at
// dir and makes it the process's current machine. false with *error set when
// it cannot; a machine that does not exist, or a database that holds none
// (emptied or damaged), is an error unless create is set.
bool OpenMachine(const std::string& dir, bool create, std::string* error);
// Closes the current machine; the next emulated call opens the default one.
void CloseMachine();
// The current machine, opened from DefaultMachineDir() on first use, and
// created there only when the directory has no drive yet (a drive without a
// valid database is a machine that lost its registry, never a new one). Aborts with a one-line message when the machine cannot be opened,
// since no emulated call can then answer truthfully.
Machine& Current();
sqlite3* Db();

// Settings (key/value text in the database).
std::string GetSetting(const std::string& name, const std::string& fallback = "");
bool SetSetting(const std::string& name, const std::string& value);

// Virtual or real clock. On a virtual clock time only moves by Sleep, which
// then returns at once; on a real clock it is the wall clock.
bool IsVirtualClock();
int64_t NowMs();
void AdvanceClock(int64_t ms);

// True when the last statement that failed since the outermost transaction
// began failed for want of space (SQLITE_FULL: the host's disk is full).
bool LastFailureWasDiskFull();
// The Win32 error of a failed write: ERROR_DISK_FULL when the disk is full,
// else the call's own error.
DWORD WriteError(DWORD otherwise);

// Changes this connection has made, less the moves of the virtual clock: a
// registry enumeration that finds it unchanged (and no commit by another
// connection) knows its rows are where they were, even across the waits of
// a walk that runs a program for every subkey.
int64_t RegistryChangeCount();

// Fault rules: the n-th matching call of a named operation fails with a Win32
// error ("once"), or that call and every later one ("always"). Returns the
// error to fail with, or 0. match is the key path, value name, file path,
// service name or command line of the call; a rule's match text must occur in
// it, ignoring case (an empty rule text matches every call).
DWORD CheckFault(const char* operation, const std::string& match);

// The error of a fault rule that stands for a crash: the process that makes
// the matching call kills itself there (SIGKILL), as a power cut or a killed
// installer would end it, so tests can prove what a run interrupted at any
// call leaves behind. Hits of a settled rule that the process had counted
// but not yet written back are lost with it.
constexpr DWORD kFaultCrashHere = 0xDEAD0009u;

// In-process call trace for tests: while set, every CheckFault call appends
// "<operation> <match>" to the vector, so a test can assert the order of the
// platform calls (for example that a service handle is closed before its
// manager handle).
void SetCallTrace(std::vector<std::string>* trace);

struct FaultRuleInfo {
  int64_t id;
  std::string operation;  // an operation name, or "*" for every operation
  std::string match;
  DWORD error;
  int64_t nth;
  bool always;
  int64_t hits;
};
bool AddFaultRule(const std::string& operation, const std::string& match, DWORD error, int64_t nth, bool always);
std::vector<FaultRuleInfo> ListFaultRules();
bool ClearFaultRules();
// Calls counted per operation while the setting "count-calls" is "1".
std::vector<std::pair<std::string, int64_t>> CallCounts();

// The directory that holds drive letter (lower case: "drive_c").
std::string DriveDirectory(char letter);

// Case folding, as the registry, the services and the file system compare
// names: a valid UTF-8 name by Unicode's simple upper case (Latin, Greek,
// Cyrillic), any other as code page 1252 bytes (case_fold.cc).
std::string Upper(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace emu

// The SQLite layer of the emulated machine: prepared statements, nested
// transactions, and what the connection tells about its own changes and
// failures.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

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

// The current machine's connection.
sqlite3* Db();

// Runs one statement without results; true when SQLite accepted it.
bool Exec(sqlite3* db, const char* sql);

// The Win32 error of a failed write: ERROR_DISK_FULL when the disk is full
// (LastFailureWasDiskFull), else the call's own error.
DWORD WriteError(DWORD otherwise);

// Changes this connection has made, less the moves of the virtual clock: a
// registry enumeration that finds it unchanged (and no commit by another
// connection) knows its rows are where they were, even across the waits of
// a walk that runs a program for every subkey.
int64_t RegistryChangeCount();
// The rows the last statement changed moved the clock, not the registry.
void DiscountLastChanges();

// Finalizes the cached statements and forgets the change counts, before the
// machine's connection closes.
void ForgetConnection();

}  // namespace emu

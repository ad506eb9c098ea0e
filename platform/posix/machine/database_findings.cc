// The lines that say why a machine's database gave no machine.
#include "platform/posix/machine/database_findings.h"

#include <cerrno>
#include <cstring>

namespace emu {
namespace {

constexpr char kStartAfresh[] = "remove it, then 'mevrid-machine init' starts a new one";

// What SQLite said, with the host's reason when a system call failed.
std::string SqliteReason(sqlite3* db) {
  std::string reason = std::string("SQLite: ") + sqlite3_errmsg(db);
  if (const int system_error = sqlite3_system_errno(db)) reason += std::string(", ") + strerror(system_error);
  return reason;
}

bool PermissionDenied(int system_error) {
  return system_error == EACCES || system_error == EPERM || system_error == EROFS;
}

}  // namespace

TablesFound LookForMachineTables(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db,
                              "SELECT count(*), count(CASE WHEN name IN ('reg_keys', 'services', 'settings') THEN 1 END)"
                              " FROM sqlite_master WHERE type='table'",
                              -1, &st, nullptr);
  TablesFound found = TablesFound::kUnreadable;
  if (rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
    found = sqlite3_column_int64(st, 1) > 0   ? TablesFound::kMachine
            : sqlite3_column_int64(st, 0) > 0 ? TablesFound::kOthers
                                              : TablesFound::kNone;
  }
  // Finalizing keeps the step's error for DescribeDatabaseWithoutMachine.
  sqlite3_finalize(st);
  return found;
}

std::string DescribeDatabaseWithoutMachine(TablesFound found, sqlite3* db, const std::string& db_path) {
  switch (found) {
    case TablesFound::kMachine:
      break;
    case TablesFound::kNone:
      return db_path + " holds no machine (empty: no tables at all); " + kStartAfresh;
    case TablesFound::kOthers:
      return db_path + " holds no machine (an SQLite database without a machine's tables); move it away, then "
                       "'mevrid-machine init' starts a new one";
    case TablesFound::kUnreadable:
      switch (sqlite3_errcode(db)) {
        case SQLITE_NOTADB:
          return db_path + " holds no machine (damaged: not an SQLite database); " + kStartAfresh;
        case SQLITE_CORRUPT:
          return db_path + " holds no machine that can be read (damaged: " + SqliteReason(db) + "); " + kStartAfresh;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
          return db_path + " is locked by another process (" + SqliteReason(db) + "); nothing was read or changed";
        default:
          break;
      }
      // SQLite reads a database in WAL mode through its -wal and -shm
      // files, and creates them when they are missing.
      if (sqlite3_extended_errcode(db) == SQLITE_READONLY_DIRECTORY)
        return "cannot read " + db_path + ": permission denied (its -wal and -shm files cannot be created in a "
               "directory this user may not write; mevrid-status reads it as it is)";
      if (PermissionDenied(sqlite3_system_errno(db)) || sqlite3_errcode(db) == SQLITE_READONLY ||
          sqlite3_errcode(db) == SQLITE_PERM)
        return "cannot read " + db_path + ": permission denied (" + SqliteReason(db) + ")";
      return "cannot read " + db_path + " (" + SqliteReason(db) + ")";
  }
  return std::string();
}

std::string DescribeUnopenedDatabase(sqlite3* db, const std::string& db_path) {
  if (db == nullptr) return "cannot open " + db_path + ": out of memory";
  if (PermissionDenied(sqlite3_system_errno(db)))
    return "cannot open " + db_path + ": permission denied (" + SqliteReason(db) + ")";
  return "cannot open " + db_path + " (" + SqliteReason(db) + ")";
}

}  // namespace emu

// The SQLite layer of the machine: the cache of prepared statements, the
// nested transactions, and the connection's failures and change counts.
#include "platform/posix/machine/database.h"

#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "platform/posix/machine.h"
#include "platform/posix/machine/current_machine.h"

namespace emu {
namespace {

int g_transaction_depth = 0;
// The code of the last statement step that failed on this connection since
// the outermost transaction began (SQLITE_OK: none).
int g_last_failure = SQLITE_OK;
// Rows this connection changed to move the virtual clock: no registry row
// moves with them (see RegistryChangeCount).
int64_t g_clock_changes = 0;

}  // namespace

// A prepared statement of the machine's connection, kept for the next
// Statement of the same text. in_use keeps a statement that is still
// stepping (a nested query of the same text) from being handed out twice;
// orphaned marks one whose machine was closed while it was in use.
struct CachedStatement {
  sqlite3_stmt* stmt = nullptr;
  bool in_use = false;
  bool orphaned = false;
};

namespace {

// The emulated calls run the same few dozen statements over and over, and
// parsing one costs more than running it, so each is prepared once per
// connection.
// Looked up by the caller's text without copying it into a key first.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};
std::mutex g_statements_mutex;
std::unordered_map<std::string, std::unique_ptr<CachedStatement>, TextHash, std::equal_to<>> g_statements;

// Finalizes every cached statement before the connection closes; one still
// in use is finalized by its Statement instead.
void DropCachedStatements() {
  std::lock_guard<std::mutex> lock(g_statements_mutex);
  for (auto& entry : g_statements) {
    if (entry.second->in_use) {
      entry.second->orphaned = true;
      entry.second.release();
    } else {
      sqlite3_finalize(entry.second->stmt);
    }
  }
  g_statements.clear();
}

}  // namespace

Statement::Statement(sqlite3* db, const char* sql) {
  if (db && IsMachineConnection(db)) {
    std::lock_guard<std::mutex> lock(g_statements_mutex);
    auto found = g_statements.find(std::string_view(sql));
    if (found == g_statements.end()) {
      auto prepared = std::make_unique<CachedStatement>();
      if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared->stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(prepared->stmt);
        return;
      }
      found = g_statements.emplace(sql, std::move(prepared)).first;
    }
    std::unique_ptr<CachedStatement>& slot = found->second;
    if (!slot->in_use) {
      slot->in_use = true;
      cached_ = slot.get();
      stmt_ = slot->stmt;
      return;
    }
  }
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}
Statement::~Statement() {
  if (!cached_) {
    if (stmt_) sqlite3_finalize(stmt_);
    return;
  }
  // Reset at once: a statement left stepping would hold its read snapshot
  // and keep every later query of this connection in the past.
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  std::lock_guard<std::mutex> lock(g_statements_mutex);
  if (cached_->orphaned) {
    sqlite3_finalize(stmt_);
    delete cached_;
  } else {
    cached_->in_use = false;
  }
}
Statement& Statement::Bind(int index, int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}
Statement& Statement::Bind(int index, const std::string& text) {
  if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}
Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  if (stmt_) sqlite3_bind_blob(stmt_, index, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
  return *this;
}
Statement& Statement::BindNull(int index) {
  if (stmt_) sqlite3_bind_null(stmt_, index);
  return *this;
}
int Statement::Step() {
  int rc = stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) g_last_failure = rc;
  return rc;
}
bool Statement::Run() {
  int rc;
  while ((rc = Step()) == SQLITE_ROW) {
  }
  return rc == SQLITE_DONE;
}
void Statement::Reset() {
  if (stmt_) sqlite3_reset(stmt_);
}
int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column)) : std::string();
}
std::string Statement::Blob(int column) const {
  const void* data = sqlite3_column_blob(stmt_, column);
  return data ? std::string(static_cast<const char*>(data), sqlite3_column_bytes(stmt_, column)) : std::string();
}
bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

Transaction::Transaction() {
  outermost_ = g_transaction_depth == 0;
  ++g_transaction_depth;
  if (outermost_) g_last_failure = SQLITE_OK;
  // A reader's transaction only keeps its statements on one snapshot.
  ok_ = outermost_ ? Statement(Db(), MachineIsReadOnly() ? "BEGIN" : "BEGIN IMMEDIATE").Run() : true;
}
Transaction::~Transaction() {
  --g_transaction_depth;
  if (outermost_ && ok_ && !done_) Statement(Db(), "ROLLBACK").Run();
}
bool Transaction::Commit() {
  if (!ok_ || done_) return false;
  done_ = true;
  return outermost_ ? Statement(Db(), "COMMIT").Run() : true;
}

sqlite3* Db() { return Current().db; }

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool LastFailureWasDiskFull() { return (g_last_failure & 0xFF) == SQLITE_FULL; }

DWORD WriteError(DWORD otherwise) { return LastFailureWasDiskFull() ? ERROR_DISK_FULL : otherwise; }

int64_t RegistryChangeCount() { return sqlite3_total_changes64(Db()) - g_clock_changes; }

void DiscountLastChanges() { g_clock_changes += sqlite3_changes64(Db()); }

void ForgetConnection() {
  DropCachedStatements();
  g_clock_changes = 0;  // a new connection counts its changes from 0
}

}  // namespace emu

// The emulated machine's directory, database, settings, clock and fault rules.
#include "platform/posix/machine.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace emu {
namespace {

Machine g_machine;
bool g_open = false;
int g_transaction_depth = 0;
// The code of the last statement step that failed on this connection since
// the outermost transaction began (SQLITE_OK: none).
int g_last_failure = SQLITE_OK;
// Rows this connection changed to move the virtual clock: no registry row
// moves with them (see RegistryChangeCount).
int64_t g_clock_changes = 0;

struct FaultRule {
  int64_t id;
  std::string operation;
  std::string match;
  DWORD error;
  int64_t nth;
  bool always;
  int64_t seen_hits = 0;  // the database's count as this process last saw it
  int64_t unsaved = 0;    // hits counted here but not yet written back
};
std::vector<FaultRule> g_faults;
bool g_faults_loaded = false;
std::vector<std::string>* g_call_trace = nullptr;

// Every table of the machine. Registry keys form a tree below the root row
// (id 1, HKEY_LOCAL_MACHINE); names compare upper-cased, as Windows does.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS reg_keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL,"
    " uname TEXT NOT NULL, class TEXT NOT NULL DEFAULT '', UNIQUE(parent, uname))",
    "CREATE TABLE IF NOT EXISTS reg_values(key_id INTEGER NOT NULL, name TEXT NOT NULL, uname TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, seq INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(key_id, uname))",
    "CREATE TABLE IF NOT EXISTS services(uname TEXT PRIMARY KEY, state INTEGER NOT NULL DEFAULT 1,"
    " until_ms INTEGER NOT NULL DEFAULT 0, start_ms INTEGER NOT NULL DEFAULT 0, stop_ms INTEGER NOT NULL DEFAULT 0,"
    " start_fails INTEGER NOT NULL DEFAULT 0, refuse_stop INTEGER NOT NULL DEFAULT 0,"
    " marked_delete INTEGER NOT NULL DEFAULT 0, stop_lag_ms INTEGER NOT NULL DEFAULT 0, lag_until_ms INTEGER)",
    "CREATE TABLE IF NOT EXISTS service_handles(id INTEGER PRIMARY KEY, pid INTEGER NOT NULL, uname TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS faults(id INTEGER PRIMARY KEY, operation TEXT NOT NULL, match TEXT NOT NULL,"
    " error INTEGER NOT NULL, nth INTEGER NOT NULL, always INTEGER NOT NULL, hits INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS call_counts(operation TEXT PRIMARY KEY, calls INTEGER NOT NULL)",
    "INSERT OR IGNORE INTO reg_keys(id, parent, name, uname) VALUES(1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE')",
};

// Columns added since the first machines were made. On a machine that has
// them already SQLite refuses with "duplicate column name", which is fine.
const char* const kAddedColumns[] = {
    "ALTER TABLE services ADD COLUMN stop_lag_ms INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE services ADD COLUMN lag_until_ms INTEGER",
};

const char* const kDefaultSettings[][2] = {
    {"clock", "real"},
    {"virtual-now-ms", "0"},
    {"system-root", "C:\\WINDOWS"},
    {"user-locale", "English_United States.1252"},
    // On a virtual clock, how long (real milliseconds) a wait for a real
    // process lasts before it counts as the caller's whole timeout.
    {"process-real-wait-ms", "3000"},
    {"count-calls", "0"},
    // How names are folded (see Upper); a machine made by a build that
    // folded ASCII letters only has its rows refolded when opened.
    {"name-folding", "utf8-or-cp1252"},
};

// Keys every Windows machine has; the services and the pending renames live there.
const char* const kDefaultKeys[] = {
    "SOFTWARE",
    "SYSTEM\\CurrentControlSet\\Services",
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
};

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool MakeDirs(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < path.size()) partial += path[i];
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Absolute(const std::string& dir) {
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved)) return resolved;
  return dir;
}

void EnsureDefaultKey(sqlite3* db, const std::string& path) {
  int64_t parent = 1;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(start, end - start);
    Statement find(db, "SELECT id FROM reg_keys WHERE parent=?1 AND uname=?2");
    find.Bind(1, parent).Bind(2, Upper(name));
    if (find.Step() == SQLITE_ROW) {
      parent = find.Int(0);
    } else {
      Statement add(db, "INSERT INTO reg_keys(parent, name, uname) VALUES(?1, ?2, ?3)");
      add.Bind(1, parent).Bind(2, name).Bind(3, Upper(name));
      add.Run();
      parent = sqlite3_last_insert_rowid(db);
    }
    start = end + 1;
  }
}

// A fingerprint of the schema and default settings, kept in the database's
// user_version once they are in place: a machine opened by a build with the
// same ones skips those statements (parsing them is most of what opening a
// machine costs every program that runs on it), and any change to them runs
// them again. Never 0, the version of a database nobody has set up.
int64_t SchemaFingerprint() {
  uint32_t hash = 2166136261u;  // FNV-1a
  auto add = [&hash](const char* text) {
    for (const char* c = text; *c; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    hash = (hash ^ 0xFFu) * 16777619u;
  };
  for (const char* sql : kSchema) add(sql);
  for (const char* sql : kAddedColumns) add(sql);
  for (const auto& setting : kDefaultSettings) {
    add(setting[0]);
    add(setting[1]);
  }
  return (hash & 0x7FFFFFFFu) | 1u;
}

// True when the database has tables of a machine (set up by this build or
// an older one), read without writing anything.
bool HoldsMachine(sqlite3* db) {
  Statement st(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name IN ('reg_keys', 'services', 'settings')");
  return st.Step() == SQLITE_ROW;
}

int64_t UserVersion(sqlite3* db) {
  Statement st(db, "PRAGMA user_version");
  return st.Step() == SQLITE_ROW ? st.Int(0) : -1;
}

// True when every default key is there, read without taking the write lock.
bool DefaultKeysPresent(sqlite3* db) {
  for (const char* path : kDefaultKeys) {
    int64_t parent = 1;
    size_t start = 0;
    while (start <= strlen(path)) {
      std::string rest(path + start);
      std::string name = rest.substr(0, rest.find('\\'));
      Statement find(db, "SELECT id FROM reg_keys WHERE parent=?1 AND uname=?2");
      find.Bind(1, parent).Bind(2, Upper(name));
      if (find.Step() != SQLITE_ROW) return false;
      parent = find.Int(0);
      start += name.size() + 1;
    }
  }
  return true;
}

// Folds the upper-cased names again by the current Upper: rows written by a
// build that folded ASCII letters only would not be found by their names
// with other letters. A row whose folded name another row already has keeps
// its old one (two keys a build with ASCII folding held apart).
bool RefoldNames(sqlite3* db) {
  struct Table {
    const char* select;
    const char* update;
  };
  const Table tables[] = {
      {"SELECT rowid, uname FROM reg_keys", "UPDATE OR IGNORE reg_keys SET uname=?2 WHERE rowid=?1"},
      {"SELECT rowid, uname FROM reg_values", "UPDATE OR IGNORE reg_values SET uname=?2 WHERE rowid=?1"},
      {"SELECT rowid, uname FROM services", "UPDATE OR IGNORE services SET uname=?2 WHERE rowid=?1"},
      {"SELECT rowid, uname FROM service_handles", "UPDATE service_handles SET uname=?2 WHERE rowid=?1"},
  };
  for (const Table& table : tables) {
    std::vector<std::pair<int64_t, std::string>> changed;
    Statement rows(db, table.select);
    int rc;
    while ((rc = rows.Step()) == SQLITE_ROW) {
      std::string name = rows.Text(1), folded = Upper(name);
      if (folded != name) changed.emplace_back(rows.Int(0), folded);
    }
    if (rc != SQLITE_DONE) return false;
    for (const auto& [row, folded] : changed) {
      Statement update(db, table.update);
      update.Bind(1, row).Bind(2, folded);
      if (!update.Run()) return false;
    }
  }
  return true;
}

bool InitializeDefaults(sqlite3* db) {
  for (const char* sql : kSchema)
    if (!Exec(db, sql)) return false;
  for (const char* sql : kAddedColumns)
    if (!Exec(db, sql) && !strstr(sqlite3_errmsg(db), "duplicate column")) return false;
  for (const auto& setting : kDefaultSettings) {
    Statement st(db, "INSERT OR IGNORE INTO settings(name, value) VALUES(?1, ?2)");
    st.Bind(1, setting[0]).Bind(2, setting[1]);
    if (!st.Run()) return false;
  }
  for (const char* key : kDefaultKeys) EnsureDefaultKey(db, key);
  if (!RefoldNames(db)) return false;
  return Exec(db, ("PRAGMA user_version=" + std::to_string(SchemaFingerprint())).c_str());
}

// Writes back the hits that settled rules counted in memory (see CheckFault).
void SaveUnsavedHits() {
  if (!g_open) return;
  for (FaultRule& rule : g_faults) {
    if (rule.unsaved == 0) continue;
    Statement save(Db(), "UPDATE faults SET hits=hits+?2 WHERE id=?1");
    save.Bind(1, rule.id).Bind(2, rule.unsaved);
    save.Run();
    rule.unsaved = 0;
  }
}

void LoadFaults() {
  SaveUnsavedHits();
  g_faults.clear();
  Statement st(Db(), "SELECT id, operation, match, error, nth, always FROM faults ORDER BY id");
  while (st.Step() == SQLITE_ROW)
    g_faults.push_back({st.Int(0), st.Text(1), st.Text(2), static_cast<DWORD>(st.Int(3)), st.Int(4), st.Int(5) != 0});
  g_faults_loaded = true;
}

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
  if (db && db == g_machine.db) {
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
  ok_ = outermost_ ? Statement(Db(), "BEGIN IMMEDIATE").Run() : true;
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

std::string DefaultMachineDir() {
  const char* env = getenv("MEVRID_MACHINE");
  if (env && *env) return env;
  const char* xdg = getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/mevrid/machine";
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.mevrid-machine";
}

bool OpenMachine(const std::string& dir, bool create, std::string* error) {
  CloseMachine();
  std::string db_path = dir + "/machine.db";
  struct stat st;
  bool exists = stat(db_path.c_str(), &st) == 0;
  if (!exists && !create) {
    if (error)
      *error = IsDirectory(dir + "/drive_c") ? "no machine database in " + dir +
                                                   " beside its drive_c; 'mevrid-machine init' starts a new one there"
                                             : "no machine at " + dir + " (create it with 'mevrid-machine init')";
    return false;
  }
  if (!exists && !MakeDirs(dir)) {
    if (error) *error = "cannot create directory " + dir + ": " + strerror(errno);
    return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0), nullptr) !=
      SQLITE_OK) {
    if (error) *error = "cannot open " + db_path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 60000);
  // A database that exists but holds no machine (emptied, or not SQLite at
  // all) is one that lost its registry: only a creation may start afresh.
  if (exists && !create && !HoldsMachine(db)) {
    if (error)
      *error = db_path + " holds no machine (empty or damaged); remove it, then 'mevrid-machine init' starts a new one";
    sqlite3_close(db);
    return false;
  }
  // WAL with synchronous=NORMAL keeps every committed transaction across a
  // killed process, and lets readers and one writer work at once.
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "PRAGMA synchronous=NORMAL");
  g_machine.dir = Absolute(dir);
  g_machine.db = db;
  g_open = true;
  bool initialized = UserVersion(db) == SchemaFingerprint() && DefaultKeysPresent(db);
  if (!initialized) {
    Transaction tx;
    initialized = tx.ok() && InitializeDefaults(db) && tx.Commit();
  }
  if (!initialized) {
    if (error) *error = "cannot initialise " + db_path + ": " + sqlite3_errmsg(db);
    CloseMachine();
    return false;
  }
  if (!MakeDirs(g_machine.dir + "/drive_c/WINDOWS/system32/drivers")) {
    if (error) *error = "cannot create drive_c in " + g_machine.dir;
    CloseMachine();
    return false;
  }
  g_faults_loaded = false;
  return true;
}

void CloseMachine() {
  SaveUnsavedHits();
  DropCachedStatements();
  // close_v2: a statement still held by a caller keeps the connection until
  // it is finalized, instead of leaking it.
  if (g_machine.db) sqlite3_close_v2(g_machine.db);
  g_machine = Machine();
  g_open = false;
  g_clock_changes = 0;  // a new connection counts its changes from 0
  g_faults.clear();
  g_faults_loaded = false;
}

Machine& Current() {
  if (!g_open) {
    std::string error;
    // A machine is made on first use only where none has ever been: a
    // directory with a drive but no valid database lost its registry, and
    // a new empty one would silently drop every product's reference.
    const std::string dir = DefaultMachineDir();
    if (!OpenMachine(dir, !IsDirectory(dir + "/drive_c"), &error)) {
      fprintf(stderr, "mevrid: emulated machine unavailable: %s\n", error.c_str());
      exit(1);
    }
  }
  return g_machine;
}

sqlite3* Db() { return Current().db; }

std::string GetSetting(const std::string& name, const std::string& fallback) {
  Statement st(Db(), "SELECT value FROM settings WHERE name=?1");
  st.Bind(1, name);
  return st.Step() == SQLITE_ROW ? st.Text(0) : fallback;
}

bool SetSetting(const std::string& name, const std::string& value) {
  Statement st(Db(), "INSERT INTO settings(name, value) VALUES(?1, ?2) ON CONFLICT(name) DO UPDATE SET value=?2");
  st.Bind(1, name).Bind(2, value);
  bool ok = st.Run();
  if (name == "count-calls") g_faults_loaded = false;
  return ok;
}

bool IsVirtualClock() { return GetSetting("clock") == "virtual"; }

int64_t NowMs() {
  if (IsVirtualClock()) return strtoll(GetSetting("virtual-now-ms", "0").c_str(), nullptr, 10);
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void AdvanceClock(int64_t ms) {
  Statement st(Db(), "UPDATE settings SET value=CAST(CAST(value AS INTEGER)+?1 AS TEXT) WHERE name='virtual-now-ms'");
  st.Bind(1, ms);
  if (st.Run()) g_clock_changes += sqlite3_changes64(Db());
}

bool LastFailureWasDiskFull() { return (g_last_failure & 0xFF) == SQLITE_FULL; }

DWORD WriteError(DWORD otherwise) { return LastFailureWasDiskFull() ? ERROR_DISK_FULL : otherwise; }

int64_t RegistryChangeCount() { return sqlite3_total_changes64(Db()) - g_clock_changes; }

void SetCallTrace(std::vector<std::string>* trace) { g_call_trace = trace; }

DWORD CheckFault(const char* operation, const std::string& match) {
  if (g_call_trace) g_call_trace->push_back(std::string(operation) + " " + match);
  static bool count_calls = false;
  if (!g_faults_loaded) {
    LoadFaults();
    count_calls = GetSetting("count-calls") == "1";
  }
  if (count_calls) {
    Statement st(Db(),
                 "INSERT INTO call_counts(operation, calls) VALUES(?1, 1)"
                 " ON CONFLICT(operation) DO UPDATE SET calls=calls+1");
    st.Bind(1, operation);
    st.Run();
  }
  if (g_faults.empty()) return 0;
  std::string upper_match = Upper(match);
  for (FaultRule& rule : g_faults) {
    if (rule.operation != "*" && !EqualsNoCase(rule.operation, operation)) continue;
    if (!rule.match.empty() && upper_match.find(Upper(rule.match)) == std::string::npos) continue;
    // Once the n-th call has been made, a rule's answer is settled: an
    // "always" rule fails every later call, a "once" rule none. Its hits are
    // then only a report, counted here and written back in batches, at exit
    // and when the rules are read: a loop of thousands of calls under such
    // a rule (tmpnam trying every name) would otherwise commit once per call.
    if (rule.seen_hits >= rule.nth) {
      static bool save_at_exit = (atexit(SaveUnsavedHits), true);
      (void)save_at_exit;
      if (++rule.unsaved >= 4096) SaveUnsavedHits();
      if (rule.always) return rule.error;
      continue;
    }
    // The hit count lives in the database so that it counts calls across
    // every process that uses the machine (the tool and its children).
    Transaction tx;
    Statement bump(Db(), "UPDATE faults SET hits=hits+1 WHERE id=?1 RETURNING hits");
    bump.Bind(1, rule.id);
    int64_t hits = bump.Step() == SQLITE_ROW ? bump.Int(0) : 0;
    bump.Reset();
    tx.Commit();
    rule.seen_hits = hits;
    if (hits == rule.nth || (rule.always && hits >= rule.nth)) {
      // The test's stand-in for a power cut or a killed installer: the
      // process dies at this very call, its committed work kept as it is.
      if (rule.error == kFaultCrashHere) raise(SIGKILL);
      return rule.error;
    }
  }
  return 0;
}

bool AddFaultRule(const std::string& operation, const std::string& match, DWORD error, int64_t nth, bool always) {
  Statement st(Db(), "INSERT INTO faults(operation, match, error, nth, always) VALUES(?1, ?2, ?3, ?4, ?5)");
  st.Bind(1, operation).Bind(2, match).Bind(3, static_cast<int64_t>(error)).Bind(4, nth).Bind(5, always ? 1 : 0);
  g_faults_loaded = false;
  return st.Run();
}

std::vector<FaultRuleInfo> ListFaultRules() {
  SaveUnsavedHits();
  std::vector<FaultRuleInfo> rules;
  Statement st(Db(), "SELECT id, operation, match, error, nth, always, hits FROM faults ORDER BY id");
  while (st.Step() == SQLITE_ROW)
    rules.push_back(
        {st.Int(0), st.Text(1), st.Text(2), static_cast<DWORD>(st.Int(3)), st.Int(4), st.Int(5) != 0, st.Int(6)});
  return rules;
}

bool ClearFaultRules() {
  g_faults.clear();
  g_faults_loaded = false;
  return Exec(Db(), "DELETE FROM faults") && Exec(Db(), "DELETE FROM call_counts");
}

std::vector<std::pair<std::string, int64_t>> CallCounts() {
  std::vector<std::pair<std::string, int64_t>> counts;
  Statement st(Db(), "SELECT operation, calls FROM call_counts ORDER BY operation");
  while (st.Step() == SQLITE_ROW) counts.emplace_back(st.Text(0), st.Int(1));
  return counts;
}

std::string DriveDirectory(char letter) {
  return Current().dir + "/drive_" + static_cast<char>(tolower(static_cast<unsigned char>(letter)));
}

}  // namespace emu

// The emulated machine's directory, its database schema and defaults, and the current machine.
#include "platform/posix/machine.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/machine/database_findings.h"
#include "platform/posix/machine/fault_check.h"
#include "platform/posix/machine/split.h"

namespace emu {
namespace {

Machine g_machine;
bool g_open = false;

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

// Creates the key with any missing parent. A failed insert fails it: the
// row id it leaves behind is that of an earlier insert, and a child made
// below it would hang from the wrong key.
bool EnsureDefaultKey(sqlite3* db, const std::string& path) {
  int64_t parent = 1;
  for (const std::string& name : SplitNonEmpty(path, '\\')) {
    Statement find(db, "SELECT id FROM reg_keys WHERE parent=?1 AND uname=?2");
    find.Bind(1, parent).Bind(2, Upper(name));
    if (find.Step() == SQLITE_ROW) {
      parent = find.Int(0);
    } else {
      Statement add(db, "INSERT INTO reg_keys(parent, name, uname) VALUES(?1, ?2, ?3)");
      add.Bind(1, parent).Bind(2, name).Bind(3, Upper(name));
      if (!add.Run()) return false;
      parent = sqlite3_last_insert_rowid(db);
    }
  }
  return true;
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

int64_t UserVersion(sqlite3* db) {
  Statement st(db, "PRAGMA user_version");
  return st.Step() == SQLITE_ROW ? st.Int(0) : -1;
}

// True when every default key is there, read without taking the write lock.
bool DefaultKeysPresent(sqlite3* db) {
  for (const char* path : kDefaultKeys) {
    int64_t parent = 1;
    for (const std::string& name : SplitNonEmpty(path, '\\')) {
      Statement find(db, "SELECT id FROM reg_keys WHERE parent=?1 AND uname=?2");
      find.Bind(1, parent).Bind(2, Upper(name));
      if (find.Step() != SQLITE_ROW) return false;
      parent = find.Int(0);
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
  for (const char* key : kDefaultKeys)
    if (!EnsureDefaultKey(db, key)) return false;
  if (!RefoldNames(db)) return false;
  return Exec(db, ("PRAGMA user_version=" + std::to_string(SchemaFingerprint())).c_str());
}

// Whether the machine's database is there: false with the reason when it
// does not, or when the host does not let it be looked at.
bool FindDatabase(const std::string& db_path, bool* exists, std::string* error) {
  struct stat st;
  *exists = stat(db_path.c_str(), &st) == 0;
  if (*exists || errno == ENOENT) return true;
  if (error) *error = "cannot look for " + db_path + ": " + strerror(errno);
  return false;
}

std::string MissingMachine(const std::string& dir) {
  return IsDirectory(dir + "/drive_c")
             ? "no machine database in " + dir + " beside its drive_c; 'mevrid-machine init' starts a new one there"
             : "no machine at " + dir + " (create it with 'mevrid-machine init')";
}

// A path as a file: URI names it: the characters a URI gives a meaning of
// its own are escaped. path is absolute, so the URI has no authority part.
std::string FileUri(const std::string& path) {
  std::string uri = "file:";
  for (char c : path) {
    if (c == '?' || c == '#' || c == '%') {
      char escaped[4];
      snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri;
}

}  // namespace

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
  bool exists = false;
  if (!FindDatabase(db_path, &exists, error)) return false;
  if (!exists && !create) {
    if (error) *error = MissingMachine(dir);
    return false;
  }
  if (!exists && !MakeDirs(dir)) {
    if (error) *error = "cannot create directory " + dir + ": " + strerror(errno);
    return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0), nullptr) !=
      SQLITE_OK) {
    if (error) *error = DescribeUnopenedDatabase(db, db_path);
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 60000);
  // A database that exists but holds no machine (emptied, or not SQLite at
  // all) is one that lost its registry: only a creation may start afresh.
  // One that could not be read is said to be so, never taken for lost.
  if (exists && !create) {
    const TablesFound found = LookForMachineTables(db);
    if (found != TablesFound::kMachine) {
      if (error) *error = DescribeDatabaseWithoutMachine(found, db, db_path);
      sqlite3_close(db);
      return false;
    }
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
  ReloadFaultRules();
  return true;
}

bool OpenMachineForReading(const std::string& dir, bool through_wal, std::string* error) {
  CloseMachine();
  const std::string db_path = dir + "/machine.db";
  bool exists = false;
  if (!FindDatabase(db_path, &exists, error)) return false;
  if (!exists) {
    if (error) *error = MissingMachine(dir);
    return false;
  }
  // readonly_shm maps the -shm read-only, so not even the read marks kept
  // in it change; immutable reads the file without locks or side files.
  const std::string uri = FileUri(Absolute(db_path)) + (through_wal ? "?mode=ro&readonly_shm=1" : "?immutable=1");
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
    if (error) *error = DescribeUnopenedDatabase(db, db_path);
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 60000);
  const TablesFound found = LookForMachineTables(db);
  std::string problem;
  if (found != TablesFound::kMachine)
    problem = DescribeDatabaseWithoutMachine(found, db, db_path);
  else if (UserVersion(db) != SchemaFingerprint())
    // Bringing its tables up to date is a write: the tool or the machine
    // tool does it on its next run.
    problem = db_path + " was set up by another build of the emulation; the next run of mevrid or mevrid-machine "
                        "brings it up to date";
  if (!problem.empty()) {
    if (error) *error = problem;
    sqlite3_close(db);
    return false;
  }
  g_machine.dir = Absolute(dir);
  g_machine.db = db;
  g_machine.read_only = true;
  g_open = true;
  ReloadFaultRules();
  return true;
}

void CloseMachine() {
  ForgetFaultRules();
  ForgetConnection();
  // close_v2: a statement still held by a caller keeps the connection until
  // it is finalized, instead of leaking it.
  if (g_machine.db) sqlite3_close_v2(g_machine.db);
  g_machine = Machine();
  g_open = false;
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

bool MachineIsOpen() { return g_open; }

bool MachineIsReadOnly() { return g_open && g_machine.read_only; }

bool IsMachineConnection(sqlite3* db) { return g_open && db == g_machine.db; }

const std::string& MachineDirectory() { return Current().dir; }

std::string DriveDirectory(char letter) {
  return Current().dir + "/drive_" + static_cast<char>(tolower(static_cast<unsigned char>(letter)));
}

}  // namespace emu

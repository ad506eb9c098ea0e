// What a look into a machine's database found when it found no machine, as
// one line for the person who must act on it. Only a database that really is
// empty or damaged is one to remove; one that merely could not be read
// (permission denied, locked, a missing file beside it) is said to be so.
#pragma once

#include <sqlite3.h>

#include <string>

namespace emu {

enum class TablesFound { kMachine, kNone, kOthers, kUnreadable };

// Whether the database holds a machine's tables, read without writing.
TablesFound LookForMachineTables(sqlite3* db);

// The line for a database found without a machine; after kUnreadable it
// names what the connection's last failure was.
std::string DescribeDatabaseWithoutMachine(TablesFound found, sqlite3* db, const std::string& db_path);

// The line for a database SQLite could not open at all.
std::string DescribeUnopenedDatabase(sqlite3* db, const std::string& db_path);

}  // namespace emu

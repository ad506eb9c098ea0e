// What a look into a database that holds no machine says: the advice to
// remove it only where it really is empty or damaged.
#include "platform/posix/machine/database_findings.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_machine.h"

namespace emu {
namespace {

struct FindingCase {
  const char* name;
  void (*make)(const std::string& path);  // the file the look is taken at
  TablesFound found;
  const char* says;
  bool advises_removal;
};
void PrintTo(const FindingCase& c, std::ostream* os) { *os << c.name; }

void Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class DatabaseFindings : public testing::TestWithParam<FindingCase> {};

TEST_P(DatabaseFindings, SayWhatWasFound) {
  const FindingCase& c = GetParam();
  const std::string dir = testsupport::MakeTempDir("findings");
  const std::string path = dir + "/machine.db";
  c.make(path);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  // A writer that keeps the file for itself (rollback mode, exclusive).
  sqlite3* holder = nullptr;
  if (std::string(c.name) == "locked") {
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  const TablesFound found = LookForMachineTables(db);
  EXPECT_EQ(found, c.found);
  const std::string line = DescribeDatabaseWithoutMachine(found, db, path);
  EXPECT_NE(line.find(c.says), std::string::npos) << line;
  EXPECT_EQ(line.find("remove it") != std::string::npos, c.advises_removal) << line;
  sqlite3_close(holder);
  sqlite3_close(db);
  testsupport::RemoveTree(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DatabaseFindings,
    testing::Values(
        FindingCase{"machine", [](const std::string& p) { Sql(p, "CREATE TABLE settings(name, value)"); },
                    TablesFound::kMachine, "", false},
        FindingCase{"emptied", [](const std::string& p) { testsupport::WriteFile(p, ""); }, TablesFound::kNone,
                    "holds no machine (empty: no tables at all)", true},
        FindingCase{"not_sqlite", [](const std::string& p) { testsupport::WriteFile(p, std::string(4096, 'x')); },
                    TablesFound::kUnreadable, "holds no machine (damaged: not an SQLite database)", true},
        FindingCase{"malformed",
                    [](const std::string& p) {
                      Sql(p, "CREATE TABLE settings(name, value)");
                      std::string bytes = testsupport::ReadFile(p);
                      bytes.replace(100, 200, std::string(200, '\xff'));  // the schema's page
                      testsupport::WriteFile(p, bytes);
                    },
                    TablesFound::kUnreadable, "(damaged: SQLite: ", true},
        FindingCase{"another_database", [](const std::string& p) { Sql(p, "CREATE TABLE photos(id)"); },
                    TablesFound::kOthers, "an SQLite database without a machine's tables); move it away", false},
        FindingCase{"locked",
                    [](const std::string& p) { Sql(p, "PRAGMA journal_mode=DELETE; CREATE TABLE settings(x)"); },
                    TablesFound::kUnreadable, "is locked by another process", false}),
    [](const testing::TestParamInfo<FindingCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace emu

// The machine's kept statements, the enumeration cursor across waits, and
// the quick open of a machine that is already set up: each must save work
// without ever answering from a stale view of the database.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

// The text of every statement the machine's connection runs while alive.
class StatementTrace {
 public:
  StatementTrace() { sqlite3_trace_v2(emu::Db(), SQLITE_TRACE_STMT, &StatementTrace::OnStatement, this); }
  ~StatementTrace() { sqlite3_trace_v2(emu::Db(), 0, nullptr, nullptr); }
  int Containing(const std::string& text) const {
    int count = 0;
    for (const std::string& sql : statements_) count += sql.find(text) != std::string::npos;
    return count;
  }

 private:
  static int OnStatement(unsigned, void* self, void* statement, void*) {
    const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
    static_cast<StatementTrace*>(self)->statements_.push_back(sql ? sql : "");
    return 0;
  }
  std::vector<std::string> statements_;
};

// Runs sql on a connection of its own, as another process would; the first
// column of its last row, if any.
std::string RunOnOtherConnection(const std::string& dir, const std::string& sql) {
  sqlite3* other = nullptr;
  sqlite3_open((dir + "/machine.db").c_str(), &other);
  sqlite3_busy_timeout(other, 5000);
  std::string result;
  sqlite3_exec(
      other, sql.c_str(),
      [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) = values[0] ? values[0] : "";
        return 0;
      },
      &result, nullptr);
  sqlite3_close(other);
  return result;
}

TEST(MachineStatements, NestedQueriesOfOneTextEachGetAStatementOfTheirOwn) {
  testsupport::TestMachine machine;
  const char* sql = "SELECT name FROM reg_keys WHERE parent=?1 ORDER BY uname";
  emu::Statement outer(emu::Db(), sql);
  outer.Bind(1, emu::store::kRootKeyId);
  ASSERT_EQ(outer.Step(), SQLITE_ROW);
  EXPECT_EQ(outer.Text(0), "SOFTWARE");
  {
    // The same text while the first is mid-way: it must not be handed the
    // statement that is still stepping.
    emu::Statement inner(emu::Db(), sql);
    inner.Bind(1, emu::store::kRootKeyId);
    ASSERT_EQ(inner.Step(), SQLITE_ROW);
    EXPECT_EQ(inner.Text(0), "SOFTWARE");
  }
  ASSERT_EQ(outer.Step(), SQLITE_ROW);
  EXPECT_EQ(outer.Text(0), "SYSTEM");
  EXPECT_EQ(outer.Step(), SQLITE_DONE);
}

TEST(MachineStatements, AQueryLeftAtARowHoldsNoSnapshotOnceGone) {
  testsupport::TestMachine machine;
  EXPECT_EQ(emu::GetSetting("user-locale"), "English_United States.1252");
  // Another process changes the setting; a kept statement still holding its
  // read snapshot would answer the old value.
  RunOnOtherConnection(machine.dir(),
                                    "UPDATE settings SET value='Japanese_Japan.932' WHERE name='user-locale'");
  EXPECT_EQ(emu::GetSetting("user-locale"), "Japanese_Japan.932");
}

TEST(MachineStatements, AStatementThatOutlivesItsMachineIsFinalizedByItsOwner) {
  const std::string dir = testsupport::MakeTempDir("mevrid-statements");
  std::string error;
  ASSERT_TRUE(emu::OpenMachine(dir, true, &error)) << error;
  {
    emu::Statement held(emu::Db(), "SELECT value FROM settings WHERE name=?1");
    held.Bind(1, std::string("clock"));
    ASSERT_EQ(held.Step(), SQLITE_ROW);
    emu::CloseMachine();
  }  // finalized here, after the connection it came from was closed
  ASSERT_TRUE(emu::OpenMachine(dir, false, &error)) << error;
  EXPECT_EQ(emu::GetSetting("clock"), "real");
  emu::CloseMachine();
  testsupport::RemoveTree(dir);
}

TEST(MachineStatements, AWalkWithAWaitAfterEveryStepSeeksInsteadOfCountingFromTheStart) {
  testsupport::TestMachine machine;
  {
    emu::Transaction tx;
    int64_t parent = emu::store::CreateKey(emu::store::kRootKeyId, "SOFTWARE\\Walk", "");
    for (int i = 0; i < 40; ++i) emu::store::CreateKey(parent, "Key" + std::to_string(100 + i), "");
    ASSERT_TRUE(tx.Commit());
  }
  ScopedKey walk;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 0, KEY_READ, walk.Receive()), ERROR_SUCCESS);
  StatementTrace trace;
  const long long start = machine.NowMs();
  for (DWORD i = 0;; ++i) {
    char name[MAX_PATH];
    DWORD size = sizeof name;
    LONG status = RegEnumKeyExA(walk.Get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) {
      EXPECT_EQ(i, 40u);
      break;
    }
    ASSERT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(std::string(name), "Key" + std::to_string(100 + i));
    Sleep(1000);  // as the notification walk waits for each pre-processor
  }
  EXPECT_EQ(machine.NowMs() - start, 40000);
  // Only index 0 is counted out; every later step seeks past the last row.
  EXPECT_EQ(trace.Containing("OFFSET"), 1);
}

TEST(MachineOpen, ASetUpMachineIsMarkedAndAMissingDefaultKeyIsPutBack) {
  const std::string dir = testsupport::MakeTempDir("mevrid-open");
  std::string error;
  ASSERT_TRUE(emu::OpenMachine(dir, true, &error)) << error;
  emu::CloseMachine();
  const std::string version = RunOnOtherConnection(dir, "PRAGMA user_version");
  EXPECT_NE(version, "0");
  // A default key deleted behind the machine's back comes back at the next
  // open, even though the schema itself is known to be in place.
  RunOnOtherConnection(dir, "DELETE FROM reg_keys WHERE uname='SESSION MANAGER'");
  ASSERT_TRUE(emu::OpenMachine(dir, false, &error)) << error;
  EXPECT_NE(emu::store::FindKey(emu::store::kRootKeyId, "SYSTEM\\CurrentControlSet\\Control\\Session Manager"),
            emu::store::kNoKey);
  emu::CloseMachine();
  EXPECT_EQ(RunOnOtherConnection(dir, "PRAGMA user_version"), version);
  testsupport::RemoveTree(dir);
}

TEST(MachineOpen, AMachineSetUpByAnotherBuildGetsTheDefaultsOfThisOne) {
  const std::string dir = testsupport::MakeTempDir("mevrid-open");
  std::string error;
  ASSERT_TRUE(emu::OpenMachine(dir, true, &error)) << error;
  const std::string version = RunOnOtherConnection(dir, "PRAGMA user_version");
  emu::CloseMachine();
  // As a build with other defaults would leave it: another fingerprint, and
  // a default setting this build has that it did not.
  RunOnOtherConnection(dir, "DELETE FROM settings WHERE name='process-real-wait-ms'");
  RunOnOtherConnection(dir, "PRAGMA user_version=12345");
  ASSERT_TRUE(emu::OpenMachine(dir, false, &error)) << error;
  EXPECT_EQ(emu::GetSetting("process-real-wait-ms"), "3000");
  emu::CloseMachine();
  EXPECT_EQ(RunOnOtherConnection(dir, "PRAGMA user_version"), version);
  testsupport::RemoveTree(dir);
}

// A default key whose insert fails does not open the machine: its parent's
// id would be that of an earlier insert, and the keys below it would hang
// from a wrong key.
TEST(MachineOpen, AFailedInsertOfADefaultKeyFailsTheOpen) {
  const std::string dir = testsupport::MakeTempDir("mevrid-open");
  std::string error;
  ASSERT_TRUE(emu::OpenMachine(dir, true, &error)) << error;
  emu::CloseMachine();
  RunOnOtherConnection(dir, "DELETE FROM reg_keys WHERE uname='SESSION MANAGER'");
  RunOnOtherConnection(dir,
                       "CREATE TRIGGER refuse BEFORE INSERT ON reg_keys WHEN NEW.uname='SESSION MANAGER' "
                       "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  EXPECT_FALSE(emu::OpenMachine(dir, false, &error));
  emu::CloseMachine();
  RunOnOtherConnection(dir, "DROP TRIGGER refuse");
  ASSERT_TRUE(emu::OpenMachine(dir, false, &error)) << error;
  EXPECT_NE(emu::store::FindKey(emu::store::kRootKeyId, "SYSTEM\\CurrentControlSet\\Control\\Session Manager"),
            emu::store::kNoKey);
  emu::CloseMachine();
  testsupport::RemoveTree(dir);
}

}  // namespace

// What the emulated registry calls do beyond Windows' answers: fault rules
// matched by key path and value name, the call trace, the count of open
// handles, and enumeration cursors that never outlive a change of the tree.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/machine/database.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

class RegistryEmulationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.Import(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKLM\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\n"
        "\"Version\"=\"4.0\"\n@=\"default\"\n");
    baseline_handles_ = emu::admin::OpenRegistryHandleCount();
  }
  void TearDown() override {
    emu::SetCallTrace(nullptr);
    EXPECT_EQ(emu::admin::OpenRegistryHandleCount(), baseline_handles_) << "a key handle was left open";
  }

  static LONG Query(HKEY key, const char* name) {
    BYTE data[64];
    DWORD size = sizeof data;
    return RegQueryValueExA(key, name, nullptr, nullptr, data, &size);
  }
  static std::vector<std::string> Walk(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[MAX_PATH];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name);
    }
    return names;
  }

  testsupport::TestMachine machine_;
  int64_t baseline_handles_ = 0;
};

constexpr const char* kVersionKey = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion";

TEST_F(RegistryEmulationTest, FaultRulesMatchTheKeyPathOrTheValueName) {
  ASSERT_TRUE(emu::AddFaultRule("RegOpenKeyExA", "kelmkota\\currentversion", ERROR_ACCESS_DENIED, 2, false));
  ScopedKey key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, key.Receive()), ERROR_SUCCESS);
  HKEY failed = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &failed), ERROR_ACCESS_DENIED)
      << "the second matching call fails";
  EXPECT_EQ(failed, nullptr);
  ScopedKey again;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, again.Receive()), ERROR_SUCCESS)
      << "a rule without 'always' fails one call";

  // Value calls match "<key path>\<value name>", the default value as "@".
  ASSERT_TRUE(emu::AddFaultRule("RegQueryValueExA", "CurrentVersion\\Version", ERROR_MORE_DATA, 1, true));
  ASSERT_TRUE(emu::AddFaultRule("RegQueryValueExA", "CurrentVersion\\@", ERROR_CANTREAD, 1, true));
  EXPECT_EQ(Query(key.Get(), "Version"), ERROR_MORE_DATA);
  EXPECT_EQ(Query(key.Get(), "Version"), ERROR_MORE_DATA);
  EXPECT_EQ(Query(key.Get(), ""), ERROR_CANTREAD);
  EXPECT_EQ(Query(key.Get(), "Other"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryEmulationTest, AFailedWriteChangesNothing) {
  ASSERT_TRUE(emu::AddFaultRule("RegSetValueExA", "Version", ERROR_CANTWRITE, 1, false));
  ASSERT_TRUE(emu::AddFaultRule("RegCreateKeyExA", "References\\ALPHA", ERROR_ACCESS_DENIED, 1, false));
  std::string before = machine_.Export();
  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_WRITE, key.Receive()), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key.Get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("5.0"), 3),
            ERROR_CANTWRITE);
  HKEY created = reinterpret_cast<HKEY>(1);
  DWORD disposition = 0xdeadbeef;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA", 0,
                            nullptr, 0, KEY_WRITE, nullptr, &created, &disposition),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(created, nullptr);
  EXPECT_EQ(disposition, 0xdeadbeefu);
  EXPECT_EQ(machine_.Export(), before) << "not even the missing parent was created";
}

TEST_F(RegistryEmulationTest, EveryCallIsTracedWithTheTextRulesMatch) {
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\Kelm Computer Corporation\\KelmKOTA\\", 0, KEY_ALL_ACCESS,
                          &key),
            ERROR_SUCCESS);
  Query(key, "Version");
  Query(key, nullptr);
  HKEY sub = nullptr;
  RegCreateKeyExA(key, "References\\ALPHA", 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr);
  RegSetValueExA(sub, "PreProcImage", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("x"), 1);
  RegCloseKey(sub);
  char name[16];
  DWORD size = sizeof name;
  RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
  RegDeleteKeyA(key, "References\\ALPHA");
  RegDeleteValueA(key, "Gone");
  RegCloseKey(key);
  RegCloseKey(key);
  emu::SetCallTrace(nullptr);
  EXPECT_EQ(trace, (std::vector<std::string>{
                       "RegOpenKeyExA software\\Kelm Computer Corporation\\KelmKOTA",
                       "RegQueryValueExA software\\Kelm Computer Corporation\\KelmKOTA\\Version",
                       "RegQueryValueExA software\\Kelm Computer Corporation\\KelmKOTA\\@",
                       "RegCreateKeyExA software\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA",
                       "RegSetValueExA software\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA\\PreProcImage",
                       "RegCloseKey software\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA",
                       "RegEnumKeyExA software\\Kelm Computer Corporation\\KelmKOTA",
                       "RegDeleteKeyA software\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA",
                       "RegDeleteValueA software\\Kelm Computer Corporation\\KelmKOTA\\Gone",
                       "RegCloseKey software\\Kelm Computer Corporation\\KelmKOTA",
                       "RegCloseKey ",  // no longer a handle: nothing to name
                   }));
}

TEST_F(RegistryEmulationTest, OpenHandlesAreCountedUntilClosedEvenWhenTheCloseIsFaulted) {
  HKEY first = nullptr, second = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &first), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_WRITE, nullptr, &second, nullptr),
            ERROR_SUCCESS);
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &root), ERROR_SUCCESS);
  EXPECT_EQ(emu::admin::OpenRegistryHandleCount(), baseline_handles_ + 2) << "the predefined key is not counted";
  EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
  ASSERT_TRUE(emu::AddFaultRule("RegCloseKey", "SOFTWARE\\New", ERROR_INVALID_FUNCTION, 1, false));
  EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(emu::admin::OpenRegistryHandleCount(), baseline_handles_);
  EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryEmulationTest, AWalkSeeksPastTheLastRowInsteadOfCountingFromTheStart) {
  ScopedKey parent;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            parent.Receive(), nullptr),
            ERROR_SUCCESS);
  std::string seed = "Windows Registry Editor Version 5.00\n\n";
  for (int i = 0; i < 40; ++i) seed += "[HKLM\\SOFTWARE\\Walk\\K" + std::to_string(100 + i) + "]\n";
  machine_.Import(seed);

  // The statements SQLite runs during the walk: only the first call may count
  // rows out with OFFSET; every later one seeks past the row before.
  std::vector<std::string> statements;
  sqlite3_trace_v2(
      emu::Db(), SQLITE_TRACE_STMT,
      [](unsigned, void* context, void* statement, void*) {
        std::string sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
        if (sql.find("FROM reg_keys WHERE parent") != std::string::npos)
          static_cast<std::vector<std::string>*>(context)->push_back(sql);
        return 0;
      },
      &statements);
  std::vector<std::string> names = Walk(parent.Get());
  sqlite3_trace_v2(emu::Db(), 0, nullptr, nullptr);

  ASSERT_EQ(names.size(), 40u);
  EXPECT_EQ(names.front(), "K100");
  EXPECT_EQ(names.back(), "K139");
  int offsets = 0;
  for (const std::string& sql : statements) offsets += sql.find("OFFSET") != std::string::npos;
  EXPECT_EQ(offsets, 1) << "statements run: " << statements.size();
}

TEST_F(RegistryEmulationTest, ACursorIsDroppedWhenAnotherConnectionChangesTheTree) {
  machine_.Import("Windows Registry Editor Version 5.00\n\n[HKLM\\SOFTWARE\\Walk\\A]\n[HKLM\\SOFTWARE\\Walk\\B]\n"
                  "[HKLM\\SOFTWARE\\Walk\\C]\n[HKLM\\SOFTWARE\\Walk\\D]\n");
  ScopedKey parent;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 0, KEY_READ, parent.Receive()), ERROR_SUCCESS);
  char name[16];
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(parent.Get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "A");

  // Another process (here: another connection) deletes A between two calls.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((machine_.dir() + "/machine.db").c_str(), &other), SQLITE_OK);
  sqlite3_busy_timeout(other, 5000);
  ASSERT_EQ(sqlite3_exec(other,
                         "DELETE FROM reg_keys WHERE uname='A' AND parent="
                         "(SELECT id FROM reg_keys WHERE uname='WALK')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(other);

  size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(parent.Get(), 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "C") << "index 1 of B, C, D";
}

TEST_F(RegistryEmulationTest, ARetryAfterMoreDataAnswersTheSameKey) {
  machine_.Import("Windows Registry Editor Version 5.00\n\n[HKLM\\SOFTWARE\\Walk\\Short]\n"
                  "[HKLM\\SOFTWARE\\Walk\\TheLongestName]\n[HKLM\\SOFTWARE\\Walk\\Z]\n");
  ScopedKey parent;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk", 0, KEY_READ, parent.Receive()), ERROR_SUCCESS);
  char name[32];
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(parent.Get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  size = 4;
  ASSERT_EQ(RegEnumKeyExA(parent.Get(), 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(parent.Get(), 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "TheLongestName");
  size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(parent.Get(), 2, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Z");
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(parent.Get(), 3, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryEmulationTest, ValueWalksFollowTheWriteOrder) {
  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_ALL_ACCESS, key.Receive()), ERROR_SUCCESS);
  RegSetValueExA(key.Get(), "Later", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1);
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[32];
    DWORD size = sizeof name;
    if (RegEnumValueA(key.Get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Version", "", "Later"}));
  RegDeleteValueA(key.Get(), "");
  char name[32];
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumValueA(key.Get(), 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Later") << "a deleted value's place closes up";
}

// A write the host's full disk refuses (SQLITE_FULL: here the database may
// grow no more) fails with ERROR_DISK_FULL, and the next write, with room
// again, succeeds.
TEST(DiskFull, WritesFailWithErrorDiskFull) {
  testsupport::TestMachine machine;
  ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  const std::string big(200000, 'x');
  struct Case {
    const char* call;
    std::function<DWORD()> write;
  };
  const Case cases[] = {
      {"RegSetValueExA",
       [&] {
         ScopedKey key;
         DWORD error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Full", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       key.Receive(), nullptr);
         if (error) return error;
         return static_cast<DWORD>(RegSetValueExA(key.Get(), "Big", 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(big.c_str()), big.size() + 1));
       }},
      {"CreateServiceA",
       [&] {
         ScopedService service(CreateServiceA(manager.Get(), "Full", nullptr, SERVICE_ALL_ACCESS,
                                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                              ("C:\\full.exe " + big).c_str(), nullptr, nullptr, nullptr, nullptr,
                                              nullptr));
         return service ? ERROR_SUCCESS : GetLastError();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    ASSERT_EQ(sqlite3_exec(emu::Db(), "PRAGMA max_page_count=1", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(c.write(), static_cast<DWORD>(ERROR_DISK_FULL));
    ASSERT_EQ(sqlite3_exec(emu::Db(), "PRAGMA max_page_count=1073741823", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(c.write(), static_cast<DWORD>(ERROR_SUCCESS));
  }
}

}  // namespace

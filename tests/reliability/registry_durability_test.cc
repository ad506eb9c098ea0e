// The registry survives what real machines do to it: a writer killed at any
// moment, and several processes writing at once. Writers are forked children
// with connections of their own (an SQLite connection never crosses a fork).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

constexpr char kDurable[] = "SOFTWARE\\Durable";

// What writer i puts in one import: a key and three values, one transaction.
std::string ImportText(int i) {
  char text[256];
  snprintf(text, sizeof text,
           "Windows Registry Editor Version 5.00\n\n[HKLM\\%s\\Import%d]\n"
           "\"Name\"=\"writer %d\"\n\"Count\"=dword:%08x\n\"Blob\"=hex:%02x,%02x,%02x\n",
           kDurable, i, i, i, i & 0xFF, (i >> 8) & 0xFF, 0xAB);
  return text;
}

std::string CallValue(int i) { return "value of " + std::to_string(i); }

// Creates the key of writer i and writes its value through the Win32 calls.
LONG WriteThroughCalls(const std::string& key_path, const std::string& value) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                          static_cast<DWORD>(value.size()));
  RegCloseKey(key);
  return status;
}

bool ReadExactly(int fd, void* data, size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = read(fd, bytes, size);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

class RegistryDurabilityTest : public ::testing::Test {
 protected:
  void Reopen() {
    std::string error;
    ASSERT_TRUE(emu::OpenMachine(machine_.dir(), false, &error)) << error;
  }

  // The database is whole, and no row hangs from a key that is gone.
  void ExpectConsistent() {
    emu::admin::DatabaseCheck check = emu::admin::CheckDatabase();
    EXPECT_EQ(check.integrity, "ok");
    EXPECT_EQ(check.orphan_values, 0);
    EXPECT_EQ(check.orphan_keys, 0);
  }

  testsupport::TestMachine machine_;
};

TEST_F(RegistryDurabilityTest, AWriterKilledMidwayLosesNothingItCommittedAndLeavesNoHalfKey) {
  int first = 0;
  for (int kill_after : {30, 120}) {
    emu::CloseMachine();
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(acks[0]);
      std::string error;
      if (!emu::OpenMachine(machine_.dir(), false, &error)) _exit(2);
      for (int i = first;; ++i) {
        if (!emu::admin::ImportRegText(ImportText(i), &error)) _exit(3);
        std::string key = std::string(kDurable) + "\\Call" + std::to_string(i);
        if (WriteThroughCalls(key, CallValue(i)) != ERROR_SUCCESS) _exit(4);
        // Both writes have returned, so both are committed.
        if (write(acks[1], &i, sizeof i) != sizeof i) _exit(5);
      }
    }
    close(acks[1]);
    int acked = first - 1, i = 0;
    while (acked < first + kill_after - 1 && ReadExactly(acks[0], &i, sizeof i)) acked = i;
    kill(pid, SIGKILL);
    while (ReadExactly(acks[0], &i, sizeof i)) acked = i;  // acks sent before the kill landed
    close(acks[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with " << WEXITSTATUS(status);
    ASSERT_GE(acked, first + kill_after - 1);

    Reopen();
    ExpectConsistent();
    emu::admin::RegKey durable;
    ASSERT_TRUE(emu::admin::ReadKey(kDurable, &durable));
    // Every import is all there or not there at all, and every acknowledged
    // one is there.
    int imports = 0;
    for (const std::string& name : durable.subkeys) {
      if (name.rfind("Import", 0) != 0) continue;
      int n = std::stoi(name.substr(6));
      emu::admin::RegKey import;
      ASSERT_TRUE(emu::admin::ReadKey(std::string(kDurable) + "\\" + name, &import));
      const std::vector<emu::admin::RegValue>& values = import.values;
      ASSERT_EQ(values.size(), 3u) << name;
      EXPECT_EQ(values[0].data, "writer " + std::to_string(n) + std::string(1, '\0')) << name;
      EXPECT_EQ(values[1].data, std::string({static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF), 0, 0}))
          << name;
      EXPECT_EQ(values[2].data,
                std::string({static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF), static_cast<char>(0xAB)}))
          << name;
      ++imports;
    }
    EXPECT_GT(imports, 0);
    for (int n = first; n <= acked; ++n) {
      EXPECT_TRUE(emu::admin::KeyExists(std::string(kDurable) + "\\Import" + std::to_string(n)))
          << "acknowledged import " << n << " lost";
      std::string key = std::string(kDurable) + "\\Call" + std::to_string(n);
      ASSERT_TRUE(emu::admin::KeyExists(key)) << "acknowledged key Call" << n << " lost";
      EXPECT_EQ(emu::admin::ReadString(key, "v"), CallValue(n));
    }
    first = acked + 1000;  // the next round writes fresh names
  }
}

TEST_F(RegistryDurabilityTest, TwoWritersAtOnceBothFindAllTheirKeys) {
  constexpr int kKeysEach = 100;
  emu::CloseMachine();
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) {
      close(start[1]);
      char go;
      (void)read(start[0], &go, 1);  // returns when the parent closes its end: both start together
      std::string error;
      if (!emu::OpenMachine(machine_.dir(), false, &error)) _exit(2);
      for (int i = 0; i < kKeysEach; ++i) {
        // Same parent for both, created by whichever comes first.
        std::string key = "SOFTWARE\\Shared\\W" + std::to_string(w) + "_" + std::to_string(i);
        if (WriteThroughCalls(key, CallValue(w * 1000 + i)) != ERROR_SUCCESS) _exit(3);
      }
      _exit(0);
    }
  }
  close(start[0]);
  close(start[1]);
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer ended with status " << status;
  }

  Reopen();
  ExpectConsistent();
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_READ, &shared), ERROR_SUCCESS);
  int found = 0;
  for (DWORD index = 0;; ++index) {
    char name[MAX_PATH];
    DWORD size = sizeof name;
    LONG status = RegEnumKeyExA(shared, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    int w = name[1] - '0', i = std::stoi(name + 3);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(shared, name, 0, KEY_READ, &key), ERROR_SUCCESS);
    char value[64];
    DWORD value_size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &value_size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(value, value_size), CallValue(w * 1000 + i)) << name;
    RegCloseKey(key);
    ++found;
  }
  RegCloseKey(shared);
  EXPECT_EQ(found, 2 * kKeysEach);
}

}  // namespace

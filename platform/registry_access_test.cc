#include "platform/registry_access.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "tests/support/test_machine.h"

namespace {

constexpr const char* kKey = "SOFTWARE\\Kelm Computer Corporation\\Test";

class RegistryAccessTest : public ::testing::Test {
 protected:
  static void Set(const char* value, const std::string& bytes, DWORD type = REG_SZ) {
    char key_class[] = "";
    ScopedKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, key_class, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              key.Receive(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), value, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  // Reads into a 260-byte buffer full of 'z' with a canary behind it.
  static bool Read(const char* value, std::string* text) {
    char buffer[kTextBufferSize + 1];
    memset(buffer, 'z', sizeof buffer);
    bool ok = ReadRegistryText(kKey, value, KEY_READ, buffer, kTextBufferSize);
    EXPECT_EQ(buffer[kTextBufferSize], 'z') << "wrote past the buffer";
    *text = std::string(buffer, strnlen(buffer, kTextBufferSize));
    return ok;
  }

  testsupport::TestMachine machine_;
};

TEST_F(RegistryAccessTest, TextEndsAtTheStoredLength) {
  std::string text;
  Set("Plain", "4.0");
  ASSERT_TRUE(Read("Plain", &text));
  EXPECT_EQ(text, "4.0");
  Set("Terminated", std::string("4.0\0", 4));
  ASSERT_TRUE(Read("Terminated", &text));
  EXPECT_EQ(text, "4.0");
  Set("Empty", "", REG_EXPAND_SZ);
  ASSERT_TRUE(Read("Empty", &text));
  EXPECT_EQ(text, "");
}

TEST_F(RegistryAccessTest, AValueThatLeavesNoRoomForItsTerminatorIsAbsent) {
  std::string text = "junk";
  Set("Exact", std::string(259, 'a'));
  ASSERT_TRUE(Read("Exact", &text));
  EXPECT_EQ(text, std::string(259, 'a'));
  Set("Full", std::string(260, 'a'));
  EXPECT_FALSE(Read("Full", &text));
  EXPECT_EQ(text, "");
  Set("FullTerminated", std::string(259, 'a') + std::string(1, '\0'));
  ASSERT_TRUE(Read("FullTerminated", &text));
  EXPECT_EQ(text, std::string(259, 'a'));
  Set("Longer", std::string(261, 'a'));
  EXPECT_FALSE(Read("Longer", &text));
  EXPECT_EQ(text, "");
}

TEST_F(RegistryAccessTest, MissingKeysAndValuesAreAbsent) {
  std::string text;
  EXPECT_FALSE(Read("Nothing", &text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(RegistryKeyExists(kKey, KEY_READ));
  Set("Present", "x");
  EXPECT_TRUE(RegistryKeyExists(kKey, KEY_READ));
  EXPECT_TRUE(RegistryKeyExists(kKey, KEY_QUERY_VALUE));
  EXPECT_FALSE(Read("Nothing", &text));
}

}  // namespace

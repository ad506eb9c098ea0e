// The registry rows beneath the Win32 calls: tree shape, Windows' ordering
// and case rules, and the ids that open handles rely on.
#include "platform/posix/registry/registry_store.h"

#include <gtest/gtest.h>

#include "platform/posix/machine.h"
#include "platform/posix/machine/database.h"
#include "tests/support/test_machine.h"

namespace {

namespace store = emu::store;

class RegistryStoreTest : public ::testing::Test {
 protected:
  static int64_t RowCount(const char* table) {
    emu::Statement st(emu::Db(), (std::string("SELECT COUNT(*) FROM ") + table).c_str());
    return st.Step() == SQLITE_ROW ? st.Int(0) : -1;
  }
  static std::vector<std::string> Names(int64_t id) {
    std::vector<std::string> names;
    for (const auto& entry : store::Subkeys(id)) names.push_back(entry.second);
    return names;
  }

  testsupport::TestMachine machine_;
};

TEST_F(RegistryStoreTest, PathsSplitOnBackslashesAndDropEmptyParts) {
  EXPECT_EQ(store::SplitKeyPath("A\\B\\C"), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(store::SplitKeyPath("A\\\\B\\"), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(store::SplitKeyPath("").empty());
  EXPECT_EQ(store::SplitKeyPath("with space\\x"), (std::vector<std::string>{"with space", "x"}));
}

TEST_F(RegistryStoreTest, CreateMakesParentsFindsWithoutCaseAndKeepsTheFirstSpelling) {
  bool created = false;
  int64_t leaf = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Kelm\\KelmZAQ", "cls", &created);
  ASSERT_NE(leaf, store::kNoKey);
  EXPECT_TRUE(created);
  EXPECT_EQ(store::FindKey(store::kRootKeyId, "software\\KELM\\kelmzaq"), leaf);
  EXPECT_EQ(store::KeyPath(leaf), "SOFTWARE\\Kelm\\KelmZAQ");
  EXPECT_EQ(store::KeyName(leaf), "KelmZAQ");

  // Again in another case: the same key, reported as not new.
  EXPECT_EQ(store::CreateKey(store::kRootKeyId, "SOFTWARE\\KELM\\KELMZAQ", "", &created), leaf);
  EXPECT_FALSE(created);
  EXPECT_EQ(store::KeyPath(leaf), "SOFTWARE\\Kelm\\KelmZAQ");

  // Only the last key decides "created".
  int64_t sibling = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Kelm\\Other", "", &created);
  EXPECT_TRUE(created);
  EXPECT_NE(sibling, leaf);
  EXPECT_EQ(store::FindKey(store::kRootKeyId, "SOFTWARE\\Kelm\\Missing"), store::kNoKey);
  EXPECT_EQ(store::FindKey(store::kNoKey, "SOFTWARE"), store::kNoKey);
  EXPECT_EQ(store::FindKey(store::kRootKeyId, ""), store::kRootKeyId);
  EXPECT_EQ(store::KeyPath(store::kRootKeyId), "");
}

TEST_F(RegistryStoreTest, SubkeysAreOrderedAsWindowsComparesThemUpperCased) {
  int64_t parent = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Order", "");
  for (const char* name : {"c", "a_b", "B", "aB", "A"}) store::CreateKey(parent, name, "");
  EXPECT_EQ(Names(parent), (std::vector<std::string>{"A", "aB", "a_b", "B", "c"}));
  std::string name;
  EXPECT_NE(store::SubkeyAt(parent, 2, &name), store::kNoKey);
  EXPECT_EQ(name, "a_b");
  EXPECT_EQ(store::SubkeyAt(parent, 5, &name), store::kNoKey);
  EXPECT_TRUE(store::HasSubkeys(parent));
}

TEST_F(RegistryStoreTest, DeleteKeyRefusesTheRootAndKeysWithSubkeys) {
  int64_t parent = store::CreateKey(store::kRootKeyId, "SOFTWARE\\P", "");
  int64_t child = store::CreateKey(parent, "Child", "");
  store::SetValue(child, "v", 1, "x");
  EXPECT_FALSE(store::DeleteKey(store::kRootKeyId));
  EXPECT_FALSE(store::DeleteKey(parent));
  EXPECT_TRUE(store::KeyExists(parent));
  int64_t values_before = RowCount("reg_values");
  EXPECT_TRUE(store::DeleteKey(child));
  EXPECT_FALSE(store::KeyExists(child));
  EXPECT_EQ(RowCount("reg_values"), values_before - 1) << "the key's values go with it";
  EXPECT_FALSE(store::DeleteKey(child));
  EXPECT_TRUE(store::DeleteKey(parent));
}

TEST_F(RegistryStoreTest, DeleteTreeLeavesNoRowBehind) {
  int64_t keys_before = RowCount("reg_keys"), values_before = RowCount("reg_values");
  int64_t top = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Tree", "");
  for (const char* path : {"A\\B\\C", "A\\D", "E"}) store::SetValue(store::CreateKey(top, path, ""), "v", 3, "1");
  store::SetValue(top, "w", 3, "2");
  ASSERT_TRUE(store::DeleteTree(top));
  EXPECT_EQ(store::FindKey(store::kRootKeyId, "SOFTWARE\\Tree"), store::kNoKey);
  EXPECT_EQ(RowCount("reg_keys"), keys_before);
  EXPECT_EQ(RowCount("reg_values"), values_before);
  EXPECT_NE(store::FindKey(store::kRootKeyId, "SOFTWARE"), store::kNoKey);
}

TEST_F(RegistryStoreTest, AKeyIdIsNeverHandedOutTwice) {
  // An open handle holds the id; a key created after the deletion, even under
  // the same name, must get another one.
  int64_t first = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Again", "");
  ASSERT_TRUE(store::DeleteKey(first));
  int64_t second = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Again", "");
  EXPECT_GT(second, first);
  ASSERT_TRUE(store::DeleteKey(second));
  // The memory survives reopening the machine.
  std::string dir = machine_.dir();
  std::string error;
  ASSERT_TRUE(emu::OpenMachine(dir, false, &error)) << error;
  EXPECT_GT(store::CreateKey(store::kRootKeyId, "SOFTWARE\\Again", ""), second);
}

TEST_F(RegistryStoreTest, ValuesKeepTheirPlaceAndFirstSpellingWhenRewritten) {
  int64_t key = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Values", "");
  ASSERT_TRUE(store::SetValue(key, "Zeta", 1, "z"));
  ASSERT_TRUE(store::SetValue(key, "alpha", 4, std::string("\1\0\0\0", 4)));
  ASSERT_TRUE(store::SetValue(key, "ZETA", 2, "rewritten"));
  std::vector<store::Value> values = store::Values(key);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, "Zeta");
  EXPECT_EQ(values[0].type, 2u);
  EXPECT_EQ(values[0].data, "rewritten");
  EXPECT_EQ(values[1].name, "alpha");
  store::Value value;
  ASSERT_TRUE(store::ValueAt(key, 1, &value));
  EXPECT_EQ(value.name, "alpha");
  EXPECT_FALSE(store::ValueAt(key, 2, &value));
  ASSERT_TRUE(store::GetValue(key, "zeta", &value));
  EXPECT_EQ(value.data, "rewritten");
  EXPECT_TRUE(store::DeleteValue(key, "ZeTa"));
  EXPECT_FALSE(store::DeleteValue(key, "zeta"));
  EXPECT_FALSE(store::GetValue(key, "zeta", nullptr));
}

TEST_F(RegistryStoreTest, StringAndDwordHelpers) {
  int64_t key = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Helpers", "");
  store::SetValue(key, "ended", 1, std::string("text\0", 5));
  store::SetString(key, "bare", "text", 2);
  EXPECT_EQ(store::GetString(key, "ended"), "text");
  EXPECT_EQ(store::GetString(key, "bare"), "text");
  EXPECT_EQ(store::GetString(key, "missing", "fallback"), "fallback");
  store::Value value;
  ASSERT_TRUE(store::GetValue(key, "bare", &value));
  EXPECT_EQ(value.data, "text") << "no terminator is added";
  EXPECT_EQ(value.type, 2u);

  ASSERT_TRUE(store::SetDword(key, "Start", 0x01020304));
  ASSERT_TRUE(store::GetValue(key, "Start", &value));
  EXPECT_EQ(value.data, std::string("\x04\x03\x02\x01", 4)) << "little-endian, as Windows stores a DWORD";
  uint32_t dword = 0;
  EXPECT_TRUE(store::GetDword(key, "start", &dword));
  EXPECT_EQ(dword, 0x01020304u);
  store::SetValue(key, "three", 4, "abc");
  EXPECT_FALSE(store::GetDword(key, "three", &dword)) << "four bytes or it is not a DWORD";
  EXPECT_EQ(dword, 0x01020304u);
}

}  // namespace

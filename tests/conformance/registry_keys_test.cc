// The registry's keys as Windows answers for them, held against the
// emulation and against Wine: opening and creating, enumerating subkeys,
// deleting.
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/registry_scratch.h"

namespace conformance::registry {
namespace {

// --- Opening and creating -------------------------------------------------

using RegistryOpenCreateTest = RegistryTest;

TEST_F(RegistryOpenCreateTest, CreateMakesMissingParentsAndReportsTheDisposition) {
  DWORD disposition = kSentinel;
  HKEY leaf = Create("Alpha\\Beta\\Gamma", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(leaf);
  EXPECT_TRUE(Exists("Alpha"));
  EXPECT_TRUE(Exists("Alpha\\Beta"));

  // Created again in another case: the same key, with the first spelling kept.
  disposition = kSentinel;
  leaf = Create("ALPHA\\beta\\gamma", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(leaf);
  EXPECT_EQ(SubkeyNames(key_), std::vector<std::string>{"Alpha"});

  // Only the last key on the path decides the disposition.
  disposition = kSentinel;
  leaf = Create("Alpha\\Delta", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(leaf);
}

TEST_F(RegistryOpenCreateTest, CreateWithoutSubkeyOpensANewHandleToTheSameKey) {
  DWORD disposition = kSentinel;
  HKEY same = Create("", KEY_ALL_ACCESS, &disposition);
  ASSERT_NE(same, nullptr);
  EXPECT_NE(same, key_);
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  Set(same, "through", REG_BINARY, "x");
  EXPECT_EQ(Get(key_, "through"), "x");
  EXPECT_EQ(RegCloseKey(same), ERROR_SUCCESS);
}

TEST_F(RegistryOpenCreateTest, OpenIgnoresCaseAndATrailingBackslash) {
  RegCloseKey(Create("Mixed\\Case"));
  HKEY key = Open("MIXED\\case\\", KEY_READ);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  std::string full = path_ + "\\mixed\\CASE";
  key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryOpenCreateTest, OpenOfAMissingKeyFailsAndClearsTheResult) {
  HKEY key = kBogusKey;
  SetLastError(kSentinel);
  EXPECT_EQ(RegOpenKeyExA(key_, "Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(GetLastError(), kSentinel);  // the status is the answer; the last error is left alone

  RegCloseKey(Create("Present"));
  key = kBogusKey;
  EXPECT_EQ(RegOpenKeyExA(key_, "Present\\Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryOpenCreateTest, APathStartingWithABackslashIsRefused) {
  std::string rooted = "\\" + path_;
  HKEY key = kBogusKey;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, rooted.c_str(), 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(key, nullptr);
  key = kBogusKey;
  EXPECT_EQ(RegCreateKeyExA(key_, "\\Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_BAD_PATHNAME);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(Exists("Sub"));
}

TEST_F(RegistryOpenCreateTest, OpeningAPredefinedKeyWithoutSubkeyHandsItBack) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
  key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  // Still usable: closing a predefined key does nothing.
  key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);

  // An ordinary key opened without a subkey gives a handle of its own.
  key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(key_, "", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_NE(key, key_);
  EXPECT_NE(key, nullptr);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryOpenCreateTest, HandlesThatAreNotOpenAreInvalid) {
  HKEY key = Create("Short");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  HKEY out = kBogusKey;
  EXPECT_EQ(RegOpenKeyExA(kBogusKey, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(out, nullptr);
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExA(kBogusKey, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueExA(kBogusKey, "x", 0, REG_BINARY, reinterpret_cast<const BYTE*>("x"), 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteKeyA(kBogusKey, "x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteValueA(kBogusKey, "x"), ERROR_INVALID_HANDLE);
}

// --- Enumerating subkeys -------------------------------------------------------

using RegistryEnumKeysTest = RegistryTest;

TEST_F(RegistryEnumKeysTest, SubkeysComeInCaseInsensitiveOrderWithTheirOwnSpelling) {
  for (const char* name : {"charlie", "Alpha", "BRAVO", "delta"}) RegCloseKey(Create(name));
  EXPECT_EQ(SubkeyNames(key_), (std::vector<std::string>{"Alpha", "BRAVO", "charlie", "delta"}));
}

TEST_F(RegistryEnumKeysTest, NamesAreComparedUpperCased) {
  // '_' sorts after the letters when both sides are upper-cased, as Windows
  // compares key names, and before them when lower-cased, as Wine does.
  for (const char* name : {"a_b", "aB", "ab1"}) RegCloseKey(Create(name));
  WINE_DIVERGENCE_EQ((std::vector<std::string>{"aB", "ab1", "a_b"}), (std::vector<std::string>{"a_b", "aB", "ab1"}),
                     SubkeyNames(key_));
}

TEST_F(RegistryEnumKeysTest, CaseIsFoldedBeyondAsciiInTheAnsiCodePage) {
  // Code page 1252 bytes: e and E acute (0xE9 0xC9), s and S caron (0x9A
  // 0x8A), y and Y diaeresis (0xFF 0x9F): one key and one value each.
  const std::pair<const char*, const char*> pairs[] = {{"caf\xE9", "CAF\xC9"},
                                                       {"\x9A"
                                                        "a",
                                                        "\x8A"
                                                        "A"},
                                                       {"\xFF", "\x9F"}};
  for (const auto& [first, second] : pairs) {
    DWORD disposition = 0;
    RegCloseKey(Create(first, KEY_ALL_ACCESS, &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY)) << first;
    RegCloseKey(Create(second, KEY_ALL_ACCESS, &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY)) << second;
    Set(key_, first, REG_SZ, first);
    EXPECT_EQ(Get(key_, second), first);
  }
  // Upper-cased, the three come in the order of their Unicode capitals.
  WINE_DIVERGENCE_EQ((std::vector<std::string>{"caf\xE9",
                                               "\x9A"
                                               "a",
                                               "\xFF"}),
                     (std::vector<std::string>{"caf\xE9", "\xFF",
                                               "\x9A"
                                               "a"}),
                     SubkeyNames(key_));
  EXPECT_EQ(ValueNames(key_).size(), 3u);
}

TEST_F(RegistryEnumKeysTest, ANameThatDoesNotFitWithItsTerminatorIsMoreData) {
  RegCloseKey(Create("Leaf"));
  char name[8 + 4];
  memset(name, kCanary, sizeof name);
  DWORD size = 4;
  EXPECT_EQ(RegEnumKeyExA(key_, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u) << "the size is not updated";
  EXPECT_EQ(static_cast<BYTE>(name[0]), kCanary) << "nothing is copied";

  size = 5;
  ASSERT_EQ(RegEnumKeyExA(key_, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(name, 5), std::string("Leaf\0", 5));
  EXPECT_EQ(static_cast<BYTE>(name[5]), kCanary);

  size = 0;
  EXPECT_EQ(RegEnumKeyExA(key_, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
}

TEST_F(RegistryEnumKeysTest, AnIndexPastTheEndIsNoMoreItems) {
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key_, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(size, sizeof name);
  RegCloseKey(Create("Only"));
  EXPECT_EQ(RegEnumKeyExA(key_, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyExA(key_, 1000, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  DWORD reserved = 0;
  EXPECT_EQ(RegEnumKeyExA(key_, 0, name, &size, &reserved, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryEnumKeysTest, TheClassGivenAtCreationIsReported) {
  RegCloseKey(Create("Reference", KEY_ALL_ACCESS, nullptr, "REG_SZ"));
  char name[16], key_class[16];
  DWORD name_size = sizeof name, class_size = sizeof key_class;
  ASSERT_EQ(RegEnumKeyExA(key_, 0, name, &name_size, nullptr, key_class, &class_size, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "Reference");
  EXPECT_EQ(std::string(key_class), "REG_SZ");
  EXPECT_EQ(class_size, 6u);
}

TEST_F(RegistryEnumKeysTest, AnIndexCountsInTheTreeAsItIsNow) {
  for (const char* name : {"A", "B", "C", "D"}) RegCloseKey(Create(name));
  char name[16];
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key_, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "A");
  // With A gone, index 1 is the key that was third.
  ASSERT_EQ(RegDeleteKeyA(key_, "A"), ERROR_SUCCESS);
  size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key_, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "C");
  // And a key added before the walk's position moves the rest along.
  RegCloseKey(Create("AA"));
  size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key_, 2, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "C");
  size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key_, 3, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "D");
}

// --- Deleting -------------------------------------------------------------------------

using RegistryDeleteTest = RegistryTest;

TEST_F(RegistryDeleteTest, AKeyWithSubkeysIsRefusedAndStays) {
  RegCloseKey(Create("References\\ALPHA"));
  EXPECT_EQ(RegDeleteKeyA(key_, "References"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Exists("References\\ALPHA"));
  // Leaf first, then the parent.
  EXPECT_EQ(RegDeleteKeyA(key_, "references\\alpha"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key_, "References"), ERROR_SUCCESS);
  EXPECT_FALSE(Exists("References"));
}

TEST_F(RegistryDeleteTest, DeletingTheValuesOfAKeyGoesWithIt) {
  HKEY sub = Create("Sub");
  Set(sub, "v", REG_SZ, "x");
  RegCloseKey(sub);
  ASSERT_EQ(RegDeleteKeyA(key_, "Sub"), ERROR_SUCCESS);
  RegCloseKey(Create("Sub"));
  sub = Open("Sub", KEY_READ);
  EXPECT_EQ(Get(sub, "v"), "<absent>");
  RegCloseKey(sub);
}

TEST_F(RegistryDeleteTest, MissingKeysAndValuesAreFileNotFound) {
  EXPECT_EQ(RegDeleteKeyA(key_, "Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(key_, "Missing\\Deeper"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(key_, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteValueA(key_, "Missing"), ERROR_FILE_NOT_FOUND);
  Set(key_, "Present", REG_SZ, "x");
  EXPECT_EQ(RegDeleteValueA(key_, "PRESENT"), ERROR_SUCCESS);
  EXPECT_EQ(Get(key_, "Present"), "<absent>");
  EXPECT_EQ(RegDeleteValueA(key_, "Present"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryDeleteTest, TheRootCannotBeDeleted) {
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryDeleteTest, AKeyDeletedUnderAnOpenHandleAnswersKeyDeleted) {
  HKEY doomed = Create("Doomed");
  Set(doomed, "v", REG_SZ, "x");
  ASSERT_EQ(RegDeleteKeyA(key_, "Doomed"), ERROR_SUCCESS);

  BYTE data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(doomed, "v", nullptr, nullptr, data, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(doomed, "v", 0, REG_SZ, data, 1), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteValueA(doomed, "v"), ERROR_KEY_DELETED);
  char name[16];
  DWORD name_size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(doomed, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumValueA(doomed, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  HKEY child = kBogusKey;
  EXPECT_EQ(RegOpenKeyExA(doomed, "", 0, KEY_READ, &child), ERROR_KEY_DELETED);
  EXPECT_EQ(child, nullptr);
  EXPECT_EQ(RegCreateKeyExA(doomed, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyA(doomed, ""), ERROR_KEY_DELETED);

  // A new key of the same name is another key: the old handle stays dead.
  HKEY reborn = Create("Doomed");
  Set(reborn, "v", REG_SZ, "new");
  RegCloseKey(reborn);
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(doomed, "v", nullptr, nullptr, data, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);
}

}  // namespace
}  // namespace conformance::registry

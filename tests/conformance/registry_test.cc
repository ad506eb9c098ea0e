// The registry calls as Windows answers them, held against the emulation and
// against Wine. Every test works in its own scratch key
// HKLM\SOFTWARE\MevridConformance\<test>, removed before and after. Outputs
// are preset to sentinels and buffers carry canary bytes behind them, so a
// call that writes what it should not is caught.
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/conformance.h"

namespace {

constexpr const char* kScratchRoot = "SOFTWARE\\MevridConformance";
constexpr DWORD kSentinel = 0xdeadbeef;
constexpr BYTE kCanary = 0xCC;
const HKEY kBogusKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdead0));

// Deletes a key and everything below it, leaves first, with the calls
// themselves (RegDeleteTree is not part of the tool's subset).
void DeleteTree(HKEY parent, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (;;) {
    char name[MAX_PATH];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    DeleteTree(key, name);
  }
  RegCloseKey(key);
  RegDeleteKeyA(parent, path.c_str());
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string(kScratchRoot) + "\\" + info->test_suite_name() + "." + info->name();
    DeleteTree(HKEY_LOCAL_MACHINE, path_);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key_) RegCloseKey(key_);
    DeleteTree(HKEY_LOCAL_MACHINE, path_);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchRoot);  // only goes once every test's key has gone
  }

  HKEY Create(const char* sub, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr,
              const char* key_class = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key_, sub, 0, const_cast<LPSTR>(key_class), REG_OPTION_NON_VOLATILE, access, nullptr,
                              &key, disposition),
              ERROR_SUCCESS)
        << sub;
    return key;
  }
  HKEY Open(const char* sub, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key_, sub, 0, access, &key), ERROR_SUCCESS) << sub;
    return key;
  }
  // Writes exactly these bytes. A guard byte follows them in memory, since
  // advapi32 counts a NUL found right behind a string as its terminator.
  static void Set(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    std::string guarded = bytes + 'G';
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(guarded.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS)
        << (name ? name : "(default)");
  }
  // The stored bytes of a value (a buffer far larger than any test value).
  static std::string Get(HKEY key, const char* name, DWORD* type = nullptr) {
    BYTE data[512];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, type, data, &size) != ERROR_SUCCESS) return "<absent>";
    return std::string(reinterpret_cast<char*>(data), size);
  }
  static std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[MAX_PATH];
      DWORD size = sizeof name;
      LONG status = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (status != ERROR_SUCCESS) {
        EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
        break;
      }
      names.emplace_back(name, size);
    }
    return names;
  }
  static std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[MAX_PATH];
      DWORD size = sizeof name;
      LONG status = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (status != ERROR_SUCCESS) {
        EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
        break;
      }
      names.emplace_back(name, size);
    }
    return names;
  }
  bool Exists(const std::string& sub) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(key_, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  std::string path_;
  HKEY key_ = nullptr;
};

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
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), static_cast<DWORD>(REG_CREATED_NEW_KEY),
                     disposition);
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
  EXPECT_EQ(RegCreateKeyExA(key_, "\\Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
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
  EXPECT_EQ(RegSetValueExA(kBogusKey, "x", 0, REG_BINARY, reinterpret_cast<const BYTE*>("x"), 1),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteKeyA(kBogusKey, "x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteValueA(kBogusKey, "x"), ERROR_INVALID_HANDLE);
}

// --- Querying ---------------------------------------------------------------

using RegistryQueryTest = RegistryTest;

TEST_F(RegistryQueryTest, AValueComesBackAsItsStoredBytesAndType) {
  Set(key_, "Bin", REG_BINARY, std::string("\x01\x00\x02", 3));
  BYTE data[8 + 4];
  memset(data, kCanary, sizeof data);
  DWORD type = kSentinel, size = 8;
  ASSERT_EQ(RegQueryValueExA(key_, "Bin", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 3), std::string("\x01\x00\x02", 3));
  EXPECT_EQ(data[3], kCanary) << "binary data gets no terminator";
  for (int i = 8; i < 12; ++i) EXPECT_EQ(data[i], kCanary) << i;
}

TEST_F(RegistryQueryTest, ANullBufferAsksOnlyForTheSize) {
  Set(key_, "Text", REG_SZ, std::string("hello\0", 6));
  DWORD type = kSentinel, size = kSentinel;
  ASSERT_EQ(RegQueryValueExA(key_, "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  // No size either: only whether the value is there.
  EXPECT_EQ(RegQueryValueExA(key_, "Text", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
}

TEST_F(RegistryQueryTest, ATooSmallBufferIsMoreDataWithTheNeededSize) {
  Set(key_, "Version", REG_SZ, std::string("a much longer text\0", 19));
  BYTE data[16 + 4];
  memset(data, kCanary, sizeof data);
  DWORD type = kSentinel, size = 16;
  EXPECT_EQ(RegQueryValueExA(key_, "Version", nullptr, &type, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 19u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  for (int i = 16; i < 20; ++i) EXPECT_EQ(data[i], kCanary) << "written past the buffer at " << i;

  // The same for binary data, and for a buffer of size zero.
  Set(key_, "Bin", REG_BINARY, "12345");
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key_, "Bin", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
}

TEST_F(RegistryQueryTest, AStringWithoutTerminatorIsEndedOnlyWhereTheBufferHasRoom) {
  Set(key_, "Version", REG_SZ, std::string("4.0X", 3));
  BYTE data[8];
  memset(data, kCanary, sizeof data);
  DWORD size = 8;
  ASSERT_EQ(RegQueryValueExA(key_, "Version", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u) << "the terminator written is not counted";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4), std::string("4.0\0", 4));
  EXPECT_EQ(data[4], kCanary);

  // An exact fit leaves the byte behind the buffer alone.
  memset(data, kCanary, sizeof data);
  size = 3;
  ASSERT_EQ(RegQueryValueExA(key_, "Version", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(data[3], kCanary);

  // A string that has its terminator gets no second one.
  Set(key_, "Ended", REG_EXPAND_SZ, std::string("ab\0", 3));
  memset(data, kCanary, sizeof data);
  size = 8;
  ASSERT_EQ(RegQueryValueExA(key_, "Ended", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(data[3], kCanary);
}

TEST_F(RegistryQueryTest, AMissingValueIsFileNotFound) {
  DWORD type = kSentinel, size = kSentinel;
  EXPECT_EQ(RegQueryValueExA(key_, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u) << "a size-only query reports 0";
  BYTE data[8];
  memset(data, kCanary, sizeof data);
  size = 8;
  EXPECT_EQ(RegQueryValueExA(key_, "Missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 8u) << "with a buffer the size stays as given";
  EXPECT_EQ(data[0], kCanary);
  // The default value is a value like any other: absent until written.
  size = 8;
  EXPECT_EQ(RegQueryValueExA(key_, "", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryQueryTest, ValueNamesIgnoreCaseAndTheDefaultValueHasTwoSpellings) {
  Set(key_, "PreProcImage", REG_EXPAND_SZ, "img");
  EXPECT_EQ(Get(key_, "PREPROCIMAGE"), "img");
  EXPECT_EQ(Get(key_, "preprocimage"), "img");
  Set(key_, nullptr, REG_SZ, "dflt");
  EXPECT_EQ(Get(key_, ""), "dflt");
  EXPECT_EQ(Get(key_, nullptr), "dflt");
}

TEST_F(RegistryQueryTest, BadParametersAreRefusedBeforeAnythingIsRead) {
  Set(key_, "v", REG_BINARY, "abc");
  BYTE data[8];
  EXPECT_EQ(RegQueryValueExA(key_, "v", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
  DWORD reserved = 0, size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key_, "v", &reserved, nullptr, data, &size), ERROR_INVALID_PARAMETER);
}

// --- Setting -----------------------------------------------------------------

using RegistrySetTest = RegistryTest;

TEST_F(RegistrySetTest, TheBytesGivenAreStoredWithoutATerminatorAdded) {
  // The byte behind the counted text is not a NUL, so nothing invites a
  // terminator: Windows and the emulation store exactly three bytes.
  const char version[] = "4.0X";
  ASSERT_EQ(RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), 3), ERROR_SUCCESS);
  DWORD type = kSentinel;
  EXPECT_EQ(Get(key_, "Version", &type), "4.0");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  // An empty text is an empty value.
  ASSERT_EQ(RegSetValueExA(key_, "Empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0), ERROR_SUCCESS);
  EXPECT_EQ(Get(key_, "Empty"), "");
}

TEST_F(RegistrySetTest, ATerminatorRightBehindTheCountedTextIsTakenByWindowsOnly) {
  // advapi32 adds the terminator to a string's count when the byte behind the
  // counted text is a NUL. The emulation keeps the tool's data model (the
  // count given is the value's length) and stores the three bytes.
  const char version[] = "4.0";
  ASSERT_EQ(RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), 3), ERROR_SUCCESS);
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(key_, "Version", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, EMULATION_CHOICE(4u, 3u));
  // Binary data never grows.
  ASSERT_EQ(RegSetValueExA(key_, "Bin", 0, REG_BINARY, reinterpret_cast<const BYTE*>(version), 3), ERROR_SUCCESS);
  ASSERT_EQ(RegQueryValueExA(key_, "Bin", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
}

TEST_F(RegistrySetTest, OverwritingReplacesTypeAndDataAndKeepsTheFirstSpelling) {
  Set(key_, "Name", REG_SZ, "first");
  Set(key_, "NAME", REG_EXPAND_SZ, "second value");
  DWORD type = kSentinel;
  EXPECT_EQ(Get(key_, "name", &type), "second value");
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(ValueNames(key_), std::vector<std::string>{"Name"});
}

TEST_F(RegistrySetTest, DataMustBeReadable) {
  EXPECT_EQ(RegSetValueExA(key_, "v", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(Get(key_, "v"), "<absent>");
  EXPECT_EQ(RegSetValueExA(key_, "v", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(Get(key_, "v"), "");
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
  const std::pair<const char*, const char*> pairs[] = {{"caf\xE9", "CAF\xC9"}, {"\x9A" "a", "\x8A" "A"}, {"\xFF", "\x9F"}};
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
  WINE_DIVERGENCE_EQ((std::vector<std::string>{"caf\xE9", "\x9A" "a", "\xFF"}),
                     (std::vector<std::string>{"caf\xE9", "\xFF", "\x9A" "a"}), SubkeyNames(key_));
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

// --- Enumerating values ------------------------------------------------------------

using RegistryEnumValuesTest = RegistryTest;

TEST_F(RegistryEnumValuesTest, ValuesComeInTheOrderTheyWereFirstWritten) {
  Set(key_, "zeta", REG_SZ, "1");
  Set(key_, "Alpha", REG_SZ, "2");
  Set(key_, "mid", REG_SZ, "3");
  Set(key_, "ZETA", REG_SZ, "rewritten");
  // Wine keeps values sorted by name; Windows lists them as they came.
  WINE_DIVERGENCE_EQ((std::vector<std::string>{"zeta", "Alpha", "mid"}),
                     (std::vector<std::string>{"Alpha", "mid", "zeta"}), ValueNames(key_));
}

TEST_F(RegistryEnumValuesTest, NameTypeAndDataOfEachValue) {
  Set(key_, "Bin", REG_BINARY, "xyz");
  char name[16];
  BYTE data[8 + 4];
  memset(data, kCanary, sizeof data);
  DWORD name_size = sizeof name, type = kSentinel, size = 8;
  ASSERT_EQ(RegEnumValueA(key_, 0, name, &name_size, nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "Bin");
  EXPECT_EQ(name_size, 3u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 3), "xyz");
  for (int i = 3; i < 12; ++i) EXPECT_EQ(data[i], kCanary) << i;

  name_size = sizeof name;
  EXPECT_EQ(RegEnumValueA(key_, 1, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(name_size, sizeof name);
}

TEST_F(RegistryEnumValuesTest, TooSmallBuffersAreMoreData) {
  Set(key_, "Value", REG_BINARY, "12345678");
  char name[16];
  BYTE data[4 + 4];
  memset(data, kCanary, sizeof data);
  DWORD name_size = sizeof name, type = kSentinel, size = 4;
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_size, nullptr, &type, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  for (int i = 4; i < 8; ++i) EXPECT_EQ(data[i], kCanary) << i;

  name_size = 5;  // "Value" needs six with its terminator
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  name_size = 6;
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(name_size, 5u);
  EXPECT_EQ(RegEnumValueA(key_, 0, nullptr, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
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

// --- Access --------------------------------------------------------------------------

using RegistryAccessTest = RegistryTest;

TEST_F(RegistryAccessTest, AHandleOpenedForReadingCannotWrite) {
  HKEY sub = Create("Sub");
  Set(sub, "v", REG_SZ, "kept");
  RegCloseKey(sub);
  HKEY reader = Open("Sub", KEY_READ);
  EXPECT_EQ(RegSetValueExA(reader, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("new"), 3), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegSetValueExA(reader, "w", 0, REG_SZ, reinterpret_cast<const BYTE*>("new"), 3), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(reader, "v"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Get(reader, "v"), "kept");
  EXPECT_EQ(Get(reader, "w"), "<absent>");
  RegCloseKey(reader);
}

TEST_F(RegistryAccessTest, AHandleOpenedForWritingCannotRead) {
  HKEY sub = Create("Sub");
  Set(sub, "v", REG_SZ, "x");
  RegCloseKey(Create("Sub\\Child"));
  RegCloseKey(sub);
  HKEY writer = Open("Sub", KEY_WRITE);
  BYTE data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(writer, "v", nullptr, nullptr, data, &size), ERROR_ACCESS_DENIED);
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(writer, "missing", nullptr, nullptr, data, &size), ERROR_ACCESS_DENIED);
  char name[16];
  DWORD name_size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(writer, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegEnumValueA(writer, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  Set(writer, "w", REG_SZ, "written");
  RegCloseKey(writer);
  EXPECT_EQ(Get(key_, "Sub\\w"), "<absent>") << "value names are not paths";
  HKEY reader = Open("Sub", KEY_READ);
  EXPECT_EQ(Get(reader, "w"), "written");
  RegCloseKey(reader);
}

TEST_F(RegistryAccessTest, EachCallNeedsItsOwnRight) {
  HKEY sub = Create("Sub");
  Set(sub, "v", REG_SZ, "x");
  RegCloseKey(Create("Sub\\Child"));
  RegCloseKey(sub);
  char name[16];
  DWORD name_size = sizeof name;

  // What the probe opens with: values can be read, subkeys not listed.
  HKEY query = Open("Sub", KEY_QUERY_VALUE);
  EXPECT_EQ(Get(query, "v"), "x");
  EXPECT_EQ(RegEnumKeyExA(query, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(query);

  HKEY list = Open("Sub", KEY_ENUMERATE_SUB_KEYS);
  name_size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(list, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  name_size = sizeof name;
  EXPECT_EQ(RegEnumValueA(list, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(list);

  HKEY none = Open("Sub", 0);
  BYTE data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(none, "v", nullptr, nullptr, data, &size), ERROR_ACCESS_DENIED);
  RegCloseKey(none);

  HKEY generic = Open("Sub", GENERIC_READ);
  EXPECT_EQ(Get(generic, "v"), "x");
  EXPECT_EQ(RegSetValueExA(generic, "v", 0, REG_SZ, data, 1), ERROR_ACCESS_DENIED);
  RegCloseKey(generic);
}

TEST_F(RegistryAccessTest, CreatingOpeningAndDeletingBelowAKeyNeedNoRightOnItsHandle) {
  RegCloseKey(Create("Sub\\Existing"));
  HKEY reader = Open("Sub", KEY_READ);
  HKEY child = nullptr;
  DWORD disposition = kSentinel;
  ASSERT_EQ(RegCreateKeyExA(reader, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(child);
  EXPECT_EQ(RegDeleteKeyA(reader, "New"), ERROR_SUCCESS);
  RegCloseKey(reader);

  HKEY writer = Open("Sub", KEY_WRITE);
  child = nullptr;
  EXPECT_EQ(RegOpenKeyExA(writer, "Existing", 0, KEY_READ, &child), ERROR_SUCCESS);
  RegCloseKey(child);
  RegCloseKey(writer);
}

TEST_F(RegistryAccessTest, AccessIsCheckedBeforeTheKeyIsFoundDeleted) {
  RegCloseKey(Create("Sub"));
  HKEY reader = Open("Sub", KEY_READ);
  HKEY writer = Open("Sub", KEY_WRITE);
  ASSERT_EQ(RegDeleteKeyA(key_, "Sub"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(reader, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1), ERROR_ACCESS_DENIED);
  BYTE data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(writer, "v", nullptr, nullptr, data, &size), ERROR_ACCESS_DENIED);
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(reader, "v", nullptr, nullptr, data, &size), ERROR_KEY_DELETED);
  RegCloseKey(reader);
  RegCloseKey(writer);
}

}  // namespace

// The registry's values as Windows answers for them, held against the
// emulation and against Wine: querying, setting, enumerating.
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/registry_scratch.h"

namespace conformance::registry {
namespace {

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

}  // namespace
}  // namespace conformance::registry

// The access rights of registry handles as Windows checks them, held
// against the emulation and against Wine.
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/registry_scratch.h"

namespace conformance::registry {
namespace {

// --- Access --------------------------------------------------------------------------

class RegistryAccessTest : public RegistryTest {
 protected:
  // "Sub" with the value "v" and the subkey "Child", for handles to it
  // opened with less than every right.
  void CreateSubWithValueAndChild() {
    HKEY sub = Create("Sub");
    Set(sub, "v", REG_SZ, "x");
    RegCloseKey(Create("Sub\\Child"));
    RegCloseKey(sub);
  }
};

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
  CreateSubWithValueAndChild();
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
  CreateSubWithValueAndChild();
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
}  // namespace conformance::registry

// The scratch keys of the registry conformance tests. Every test works in its
// own key HKLM\SOFTWARE\MevridConformance\<suite>.<test>, removed before and
// after. Outputs are preset to sentinels and buffers carry canary bytes
// behind them, so a call that writes what it should not is caught.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/conformance.h"

namespace conformance::registry {

inline constexpr const char* kScratchRoot = "SOFTWARE\\MevridConformance";
inline constexpr DWORD kSentinel = 0xdeadbeef;
inline constexpr BYTE kCanary = 0xCC;
inline const HKEY kBogusKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdead0));

// Deletes a key and everything below it, leaves first, with the calls
// themselves (RegDeleteTree is not part of the tool's subset).
inline void DeleteTree(HKEY parent, const std::string& path) {
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
  // The names an enumeration call gives for the indexes 0, 1, ... until it
  // says there are no more.
  template <typename EnumCall>
  static std::vector<std::string> Names(EnumCall enum_call) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[MAX_PATH];
      DWORD size = sizeof name;
      LONG status = enum_call(i, name, &size);
      if (status != ERROR_SUCCESS) {
        EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
        break;
      }
      names.emplace_back(name, size);
    }
    return names;
  }
  static std::vector<std::string> SubkeyNames(HKEY key) {
    return Names([key](DWORD i, char* name, DWORD* size) {
      return RegEnumKeyExA(key, i, name, size, nullptr, nullptr, nullptr, nullptr);
    });
  }
  static std::vector<std::string> ValueNames(HKEY key) {
    return Names([key](DWORD i, char* name, DWORD* size) {
      return RegEnumValueA(key, i, name, size, nullptr, nullptr, nullptr, nullptr);
    });
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
}  // namespace conformance::registry

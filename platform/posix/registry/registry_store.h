// The registry tree of the emulated machine as rows of the database: the
// store beneath the Win32 registry calls, also used directly by the service
// database (service configuration lives in the registry, as on Windows) and
// by the machine tool. These calls never consult fault rules; only the Win32
// calls do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu::store {

constexpr int64_t kRootKeyId = 1;  // HKEY_LOCAL_MACHINE
constexpr int64_t kNoKey = 0;

struct Value {
  std::string name;  // as first written (case preserved)
  uint32_t type = 0;
  std::string data;  // the exact bytes stored
};

// Splits "A\B\C" into its components; empty components (a doubled or
// trailing backslash) are dropped, as Windows ignores a trailing one.
std::vector<std::string> SplitKeyPath(const std::string& path);

// The key at path below parent (kNoKey when absent).
int64_t FindKey(int64_t parent, const std::string& path);
// Creates every missing key on the path; returns the last key's id, and sets
// *created when that key was new.
int64_t CreateKey(int64_t parent, const std::string& path, const std::string& key_class, bool* created = nullptr);
bool KeyExists(int64_t id);
std::string KeyName(int64_t id);
// The class text the key was created with.
std::string KeyClass(int64_t id);
// Full path below HKEY_LOCAL_MACHINE ("" for the root).
std::string KeyPath(int64_t id);
// Subkeys in case-insensitive name order (ids, and names as stored).
std::vector<std::pair<int64_t, std::string>> Subkeys(int64_t id);
// The subkey at an index of that order, or kNoKey past the end.
int64_t SubkeyAt(int64_t id, int64_t index, std::string* name);
bool HasSubkeys(int64_t id);
// Deletes a key without subkeys and its values.
bool DeleteKey(int64_t id);
// Deletes a key with everything below it.
bool DeleteTree(int64_t id);

bool GetValue(int64_t key, const std::string& name, Value* value);
bool SetValue(int64_t key, const std::string& name, uint32_t type, const std::string& data);
bool DeleteValue(int64_t key, const std::string& name);
// Values in the order they were first written, as regedit lists them.
std::vector<Value> Values(int64_t key);
// The value at an index of that order; false past the end.
bool ValueAt(int64_t key, int64_t index, Value* value);

// Convenience for string values: text without any terminator, as the tool
// stores them; a REG_SZ read back drops one trailing NUL if present.
std::string GetString(int64_t key, const std::string& name, const std::string& fallback = "");
bool SetString(int64_t key, const std::string& name, const std::string& text, uint32_t type = 1);
bool SetDword(int64_t key, const std::string& name, uint32_t value);
bool GetDword(int64_t key, const std::string& name, uint32_t* value);

}  // namespace emu::store

// The registry as reg and regedit reach it: keys by their path below
// HKEY_LOCAL_MACHINE, read and written through the store (each write one
// transaction), never through the Win32 calls and their fault rules.
#include "platform/posix/admin.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"

namespace emu::admin {
namespace {

RegValue FromStore(const store::Value& value) { return {value.name, value.type, value.data}; }

int64_t FindKey(const std::string& path) { return store::FindKey(store::kRootKeyId, path); }

}  // namespace

bool KeyExists(const std::string& path) { return FindKey(path) != store::kNoKey; }

bool ReadKey(const std::string& path, RegKey* key) {
  int64_t id = FindKey(path);
  if (id == store::kNoKey) return false;
  key->path = store::KeyPath(id);
  key->key_class = store::KeyClass(id);
  key->values.clear();
  for (const store::Value& value : store::Values(id)) key->values.push_back(FromStore(value));
  key->subkeys.clear();
  for (const auto& [subkey, name] : store::Subkeys(id)) key->subkeys.push_back(name);
  return true;
}

bool ReadValue(const std::string& path, const std::string& name, RegValue* value) {
  int64_t id = FindKey(path);
  store::Value stored;
  if (id == store::kNoKey || !store::GetValue(id, name, &stored)) return false;
  *value = FromStore(stored);
  return true;
}

std::string ReadString(const std::string& path, const std::string& name) {
  int64_t id = FindKey(path);
  return id == store::kNoKey ? std::string() : store::GetString(id, name);
}

bool CreateKey(const std::string& path, const std::string& key_class) {
  return store::CreateKey(store::kRootKeyId, path, key_class) != store::kNoKey;
}

bool SetValue(const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
  Transaction tx;
  int64_t id = store::CreateKey(store::kRootKeyId, path, "");
  return tx.ok() && id != store::kNoKey && store::SetValue(id, name, type, data) && tx.Commit();
}

Removal DeleteKeyTree(const std::string& path) {
  Transaction tx;
  int64_t id = FindKey(path);
  if (id == store::kNoKey) return Removal::kMissing;
  return tx.ok() && store::DeleteTree(id) && tx.Commit() ? Removal::kDone : Removal::kFailed;
}

Removal DeleteValue(const std::string& path, const std::string& name) {
  Transaction tx;
  int64_t id = FindKey(path);
  store::Value value;
  if (id == store::kNoKey || !store::GetValue(id, name, &value)) return Removal::kMissing;
  return tx.ok() && store::DeleteValue(id, name) && tx.Commit() ? Removal::kDone : Removal::kFailed;
}

Removal DeleteAllValues(const std::string& path) {
  Transaction tx;
  int64_t id = FindKey(path);
  if (id == store::kNoKey) return Removal::kMissing;
  bool done = true;
  for (const store::Value& value : store::Values(id)) done = done && store::DeleteValue(id, value.name);
  return tx.ok() && done && tx.Commit() ? Removal::kDone : Removal::kFailed;
}

}  // namespace emu::admin

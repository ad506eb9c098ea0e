// The process's table of open key handles.
#include "platform/posix/registry/registry_handles.h"

#include <unordered_set>

#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"

namespace emu::reg {
namespace {

constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kGenericWrite = 0x40000000u;
constexpr DWORD kGenericExecute = 0x20000000u;
constexpr DWORD kGenericAll = 0x10000000u;
constexpr DWORD kMaximumAllowed = 0x02000000u;

// Only handles in this set are dereferenced, so a closed or made-up HKEY is
// ERROR_INVALID_HANDLE instead of a wild read.
std::unordered_set<KeyHandle*>& Handles() {
  static auto* handles = new std::unordered_set<KeyHandle*>();
  return *handles;
}

KeyHandle& Root() {
  static auto* root = new KeyHandle{store::kRootKeyId, KEY_ALL_ACCESS, "", {}, {}};
  return *root;
}

}  // namespace

std::mutex& CallLock() {
  static auto* lock = new std::mutex();
  return *lock;
}

Stamp CurrentStamp() {
  Stamp stamp;
  stamp.db = Db();
  stamp.machine = Current().dir;
  Statement version(stamp.db, "PRAGMA data_version");
  if (version.Step() == SQLITE_ROW) stamp.data_version = version.Int(0);
  stamp.own_changes = RegistryChangeCount();
  return stamp;
}

KeyHandle* Lookup(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return &Root();
  auto* handle = reinterpret_cast<KeyHandle*>(key);
  return Handles().count(handle) ? handle : nullptr;
}

HKEY NewHandle(int64_t id, REGSAM access, const std::string& path) {
  auto* handle = new KeyHandle{id, MapAccess(access), path, {}, {}};
  Handles().insert(handle);
  return reinterpret_cast<HKEY>(handle);
}

bool CloseHandle(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return true;
  auto* handle = reinterpret_cast<KeyHandle*>(key);
  if (!Handles().erase(handle)) return false;
  delete handle;
  return true;
}

int64_t OpenHandleCount() { return static_cast<int64_t>(Handles().size()); }

DWORD MapAccess(REGSAM access) {
  DWORD mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll | kMaximumAllowed |
                            KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (access & kGenericRead) mapped |= KEY_READ;
  if (access & kGenericWrite) mapped |= KEY_WRITE;
  if (access & kGenericExecute) mapped |= KEY_EXECUTE;
  // The machine's owner may do everything, so the most it may ask for is all.
  if (access & (kGenericAll | kMaximumAllowed)) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

std::string JoinPath(const std::string& parent, const char* sub) {
  std::string path = parent;
  for (const std::string& part : store::SplitKeyPath(sub ? sub : "")) path += (path.empty() ? "" : "\\") + part;
  return path;
}

std::string ValueMatch(const std::string& key_path, const char* value_name) {
  std::string name = value_name && *value_name ? value_name : "@";
  return key_path.empty() ? name : key_path + "\\" + name;
}

}  // namespace emu::reg

namespace emu {

int64_t admin::OpenRegistryHandleCount() {
  std::lock_guard<std::mutex> lock(reg::CallLock());
  return reg::OpenHandleCount();
}

}  // namespace emu

// The Win32 registry calls over the emulated machine's registry rows, with
// the answers Windows gives: names compare without regard to case and keep
// the case they were created with; a handle can do only what it was opened
// for; a key deleted under an open handle answers ERROR_KEY_DELETED through
// it. Every call first asks the machine's fault rules, with the key path (and
// "\<value name>" for value calls) as the text a rule matches, and every
// change is one transaction.
#include <cstring>
#include <mutex>

#include "platform/posix/machine/database.h"
#include "platform/posix/machine/fault_check.h"
#include "platform/posix/registry/registry_handles.h"
#include "platform/posix/registry/registry_store.h"

using emu::reg::KeyHandle;
namespace store = emu::store;

namespace {

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A subkey path relative to an open key may not start at a root.
bool StartsAtRoot(const char* sub) { return sub && sub[0] == '\\'; }

// A handle's key is gone once its row is: ids are never handed out twice.
LONG KeyGoneOr(const KeyHandle& handle, LONG otherwise) {
  return store::KeyExists(handle.id) ? otherwise : ERROR_KEY_DELETED;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* parent = emu::reg::Lookup(hKey);
  std::string path = emu::reg::JoinPath(parent ? parent->path : "", lpSubKey);
  if (phkResult) *phkResult = nullptr;
  if (DWORD fault = emu::CheckFault("RegOpenKeyExA", path)) return static_cast<LONG>(fault);
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (!parent) return ERROR_INVALID_HANDLE;
  // A predefined key opened without a subkey is handed back as it is.
  if (hKey == HKEY_LOCAL_MACHINE && (!lpSubKey || !*lpSubKey)) {
    *phkResult = HKEY_LOCAL_MACHINE;
    return ERROR_SUCCESS;
  }
  if (StartsAtRoot(lpSubKey)) return ERROR_BAD_PATHNAME;
  int64_t id = store::FindKey(parent->id, lpSubKey ? lpSubKey : "");
  if (id == store::kNoKey) return KeyGoneOr(*parent, ERROR_FILE_NOT_FOUND);
  *phkResult = emu::reg::NewHandle(id, samDesired, path);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* parent = emu::reg::Lookup(hKey);
  std::string path = emu::reg::JoinPath(parent ? parent->path : "", lpSubKey);
  if (phkResult) *phkResult = nullptr;
  if (DWORD fault = emu::CheckFault("RegCreateKeyExA", path)) return static_cast<LONG>(fault);
  if (Reserved || !phkResult) return ERROR_INVALID_PARAMETER;
  if (!parent) return ERROR_INVALID_HANDLE;
  if (StartsAtRoot(lpSubKey)) return ERROR_BAD_PATHNAME;
  // No right on the parent handle is needed: Windows checks the creation
  // against the parent key's security, which grants the machine's owner all.
  emu::Transaction tx;
  if (!tx.ok()) return ERROR_REGISTRY_IO_FAILED;
  if (!store::KeyExists(parent->id)) return ERROR_KEY_DELETED;
  bool created = false;
  int64_t id = store::CreateKey(parent->id, lpSubKey ? lpSubKey : "", lpClass ? lpClass : "", &created);
  if (id == store::kNoKey || !tx.Commit()) return emu::WriteError(ERROR_REGISTRY_IO_FAILED);
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *phkResult = emu::reg::NewHandle(id, samDesired, path);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* key = emu::reg::Lookup(hKey);
  if (DWORD fault = emu::CheckFault("RegQueryValueExA", emu::reg::ValueMatch(key ? key->path : "", lpValueName)))
    return static_cast<LONG>(fault);
  if ((lpData && !lpcbData) || lpReserved) return ERROR_INVALID_PARAMETER;
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD capacity = lpcbData ? *lpcbData : 0;
  // A size-only query of a missing value reports 0; with a buffer the size
  // stays as the caller set it.
  if (!lpData && lpcbData) *lpcbData = 0;
  store::Value value;
  if (!store::GetValue(key->id, lpValueName ? lpValueName : "", &value)) return KeyGoneOr(*key, ERROR_FILE_NOT_FOUND);
  DWORD size = static_cast<DWORD>(value.data.size());
  LONG status = ERROR_SUCCESS;
  if (lpData) {
    if (size > capacity) {
      status = ERROR_MORE_DATA;
    } else {
      if (size) memcpy(lpData, value.data.data(), size);
      // Like advapi32, end a string that lacks its terminator when the
      // buffer has room; the size reported stays that of the stored bytes.
      if (IsStringType(value.type) && size && size < capacity && lpData[size - 1]) lpData[size] = 0;
    }
  }
  if (lpType) *lpType = value.type;
  if (lpcbData) *lpcbData = size;
  return status;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* key = emu::reg::Lookup(hKey);
  if (DWORD fault = emu::CheckFault("RegSetValueExA", emu::reg::ValueMatch(key ? key->path : "", lpValueName)))
    return static_cast<LONG>(fault);
  if (!lpData && cbData) return ERROR_NOACCESS;
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  // The bytes are stored exactly as given: a string counted without its
  // terminator stays without one.
  std::string data(reinterpret_cast<const char*>(lpData ? lpData : reinterpret_cast<const BYTE*>("")), cbData);
  emu::Transaction tx;
  if (!tx.ok()) return ERROR_REGISTRY_IO_FAILED;
  if (!store::KeyExists(key->id)) return ERROR_KEY_DELETED;
  if (!store::SetValue(key->id, lpValueName ? lpValueName : "", dwType, data) || !tx.Commit())
    return emu::WriteError(ERROR_REGISTRY_IO_FAILED);
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* parent = emu::reg::Lookup(hKey);
  std::string path = emu::reg::JoinPath(parent ? parent->path : "", lpSubKey);
  if (DWORD fault = emu::CheckFault("RegDeleteKeyA", path)) return static_cast<LONG>(fault);
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  if (!parent) return ERROR_INVALID_HANDLE;
  if (StartsAtRoot(lpSubKey)) return ERROR_BAD_PATHNAME;
  emu::Transaction tx;
  if (!tx.ok()) return ERROR_REGISTRY_IO_FAILED;
  int64_t id = store::FindKey(parent->id, lpSubKey);
  if (id == store::kNoKey) return KeyGoneOr(*parent, ERROR_FILE_NOT_FOUND);
  // The root cannot go, and a key goes only after its subkeys.
  if (id == store::kRootKeyId || store::HasSubkeys(id)) return ERROR_ACCESS_DENIED;
  if (!store::DeleteKey(id) || !tx.Commit()) return emu::WriteError(ERROR_REGISTRY_IO_FAILED);
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* key = emu::reg::Lookup(hKey);
  if (DWORD fault = emu::CheckFault("RegDeleteValueA", emu::reg::ValueMatch(key ? key->path : "", lpValueName)))
    return static_cast<LONG>(fault);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  emu::Transaction tx;
  if (!tx.ok()) return ERROR_REGISTRY_IO_FAILED;
  if (!store::KeyExists(key->id)) return ERROR_KEY_DELETED;
  std::string name = lpValueName ? lpValueName : "";
  if (!store::GetValue(key->id, name, nullptr)) return ERROR_FILE_NOT_FOUND;
  if (!store::DeleteValue(key->id, name) || !tx.Commit()) return emu::WriteError(ERROR_REGISTRY_IO_FAILED);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* key = emu::reg::Lookup(hKey);
  DWORD fault = emu::CheckFault("RegCloseKey", key ? key->path : "");
  // The handle is released even when a fault rule makes the call report an
  // error: its owner has no other way to let go of it.
  if (!emu::reg::CloseHandle(hKey)) return ERROR_INVALID_HANDLE;
  return static_cast<LONG>(fault);
}

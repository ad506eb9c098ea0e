// RegEnumKeyExA and RegEnumValueA. Callers walk indexes 0, 1, 2 ... until
// ERROR_NO_MORE_ITEMS, so each handle remembers the row it answered last: the
// next index is then one index seek past that row instead of a scan over
// every row before it, and a full walk stays linear in the number of
// subkeys. The memory is trusted only while the database is exactly as it
// was (same connection, no commit by anyone); otherwise, and for any other
// index, the row is counted out again, as Windows' index semantics demand.
#include <cstring>
#include <mutex>

#include "platform/posix/machine/database.h"
#include "platform/posix/machine/fault_check.h"
#include "platform/posix/registry/registry_handles.h"
#include "platform/posix/registry/registry_store.h"

using emu::reg::Cursor;
using emu::reg::KeyHandle;
namespace store = emu::store;

namespace {

struct SubkeyRow {
  std::string name, uname, key_class;
};

// Subkeys in Windows' order: names compared upper-cased.
bool SubkeyAt(KeyHandle& key, DWORD index, SubkeyRow* row) {
  emu::reg::Stamp stamp = emu::reg::CurrentStamp();
  Cursor& cursor = key.subkeys;
  bool fresh = cursor.valid && cursor.stamp == stamp;
  const char* sql;
  if (fresh && index == cursor.index + 1) {
    sql = "SELECT name, uname, class FROM reg_keys WHERE parent=?1 AND uname>?2 ORDER BY uname LIMIT 1";
  } else if (fresh && index == cursor.index) {
    sql = "SELECT name, uname, class FROM reg_keys WHERE parent=?1 AND uname=?2";  // a retry with a larger buffer
  } else {
    sql = "SELECT name, uname, class FROM reg_keys WHERE parent=?1 ORDER BY uname LIMIT 1 OFFSET ?3";
  }
  emu::Statement st(emu::Db(), sql);
  st.Bind(1, key.id).Bind(2, cursor.uname).Bind(3, static_cast<int64_t>(index));
  if (st.Step() != SQLITE_ROW) {
    cursor.valid = false;
    return false;
  }
  *row = SubkeyRow{st.Text(0), st.Text(1), st.Text(2)};
  cursor = Cursor{true, index, row->uname, 0, stamp};
  return true;
}

// Values in the order they were first written, as Windows lists them.
bool ValueAt(KeyHandle& key, DWORD index, store::Value* value) {
  emu::reg::Stamp stamp = emu::reg::CurrentStamp();
  Cursor& cursor = key.values;
  bool fresh = cursor.valid && cursor.stamp == stamp;
  const char* sql;
  if (fresh && index == cursor.index + 1) {
    sql = "SELECT name, type, data, seq FROM reg_values WHERE key_id=?1 AND seq>?2 ORDER BY seq LIMIT 1";
  } else if (fresh && index == cursor.index) {
    sql = "SELECT name, type, data, seq FROM reg_values WHERE key_id=?1 AND seq=?2";
  } else {
    sql = "SELECT name, type, data, seq FROM reg_values WHERE key_id=?1 ORDER BY seq LIMIT 1 OFFSET ?3";
  }
  emu::Statement st(emu::Db(), sql);
  st.Bind(1, key.id).Bind(2, cursor.seq).Bind(3, static_cast<int64_t>(index));
  if (st.Step() != SQLITE_ROW) {
    cursor.valid = false;
    return false;
  }
  *value = store::Value{st.Text(0), static_cast<uint32_t>(st.Int(1)), st.Blob(2)};
  cursor = Cursor{true, index, "", st.Int(3), stamp};
  return true;
}

LONG EndOfList(const KeyHandle& key) { return store::KeyExists(key.id) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED; }

}  // namespace

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                   LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* key = emu::reg::Lookup(hKey);
  if (DWORD fault = emu::CheckFault("RegEnumKeyExA", key ? key->path : "")) return static_cast<LONG>(fault);
  if (lpReserved || !lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  SubkeyRow row;
  if (!SubkeyAt(*key, dwIndex, &row)) return EndOfList(*key);
  // The name must fit with its terminator; when it does not, neither the
  // buffer nor the size is touched.
  bool want_class = lpClass && lpcchClass;
  if (row.name.size() >= *lpcchName || (want_class && row.key_class.size() >= *lpcchClass)) return ERROR_MORE_DATA;
  memcpy(lpName, row.name.c_str(), row.name.size() + 1);
  *lpcchName = static_cast<DWORD>(row.name.size());
  if (lpcchClass) {
    if (lpClass) memcpy(lpClass, row.key_class.c_str(), row.key_class.size() + 1);
    *lpcchClass = static_cast<DWORD>(row.key_class.size());
  }
  // Write times are not kept: every key reports the same, earliest time.
  if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  std::lock_guard<std::mutex> lock(emu::reg::CallLock());
  KeyHandle* key = emu::reg::Lookup(hKey);
  if (DWORD fault = emu::CheckFault("RegEnumValueA", key ? key->path : "")) return static_cast<LONG>(fault);
  if (lpReserved || !lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  store::Value value;
  if (!ValueAt(*key, dwIndex, &value)) return EndOfList(*key);
  DWORD size = static_cast<DWORD>(value.data.size());
  LONG status = ERROR_SUCCESS;
  if (lpData && size > *lpcbData) {
    // Data that does not fit: only its type and size come back.
    status = ERROR_MORE_DATA;
  } else {
    if (lpData) {
      DWORD capacity = *lpcbData;
      if (size) memcpy(lpData, value.data.data(), size);
      bool is_string = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
      if (is_string && size && size < capacity && lpData[size - 1]) lpData[size] = 0;
    }
    if (value.name.size() >= *lpcchValueName) {
      // As much of the name as fits, terminated; the size stays as given.
      status = ERROR_MORE_DATA;
      if (*lpcchValueName) {
        memcpy(lpValueName, value.name.data(), *lpcchValueName - 1);
        lpValueName[*lpcchValueName - 1] = '\0';
      }
    } else {
      memcpy(lpValueName, value.name.c_str(), value.name.size() + 1);
      *lpcchValueName = static_cast<DWORD>(value.name.size());
    }
  }
  if (lpType) *lpType = value.type;
  if (lpcbData) *lpcbData = size;
  return status;
}

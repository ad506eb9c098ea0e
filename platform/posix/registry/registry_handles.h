// Key handles of the emulated registry: what an HKEY stands for in this
// process. A handle is a heap object (key id, granted access, the key's path
// for fault rules and traces, enumeration cursors) that is valid from the
// call that opened it until RegCloseKey; HKEY_LOCAL_MACHINE is the one
// predefined handle and never closes.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/posix/win32_api.h"

namespace emu::reg {

// The state of the database a cursor was taken in. Equal stamps mean no
// connection has changed the database since, so the row a cursor remembers
// still sits at the index it remembers.
struct Stamp {
  sqlite3* db = nullptr;
  std::string machine;
  int64_t data_version = -1;  // commits by other connections
  int64_t own_changes = -1;   // changes through this connection, clock moves aside
  bool operator==(const Stamp&) const = default;
};
Stamp CurrentStamp();

// Where the last enumeration call of a handle stopped: the index it answered
// and the ordering key of that row (upper-cased name for subkeys, write
// sequence for values), so that the next index is one seek, not a walk.
struct Cursor {
  bool valid = false;
  int64_t index = -1;
  std::string uname;
  int64_t seq = 0;
  Stamp stamp;
};

struct KeyHandle {
  int64_t id = 0;
  DWORD access = 0;  // specific rights, generic ones mapped
  std::string path;  // below HKEY_LOCAL_MACHINE, as the caller spelled it
  Cursor subkeys;
  Cursor values;
};

// Held for the whole of every registry call: handles may be shared between
// threads, and the enumeration cursors live in them.
std::mutex& CallLock();

// The handle behind hKey, or nullptr when it is not an open key handle.
KeyHandle* Lookup(HKEY key);
HKEY NewHandle(int64_t id, REGSAM access, const std::string& path);
// false when hKey is not an open handle; HKEY_LOCAL_MACHINE stays open.
bool CloseHandle(HKEY key);
int64_t OpenHandleCount();

// Generic rights (GENERIC_READ ...) and MAXIMUM_ALLOWED as the specific key
// rights they stand for.
DWORD MapAccess(REGSAM access);

// parent\sub with empty components dropped ("" parent: sub alone).
std::string JoinPath(const std::string& parent, const char* sub);
// The text fault rules match for a value: key path, backslash, value name
// ("@" for the default value, as regedit writes it).
std::string ValueMatch(const std::string& key_path, const char* value_name);

}  // namespace emu::reg

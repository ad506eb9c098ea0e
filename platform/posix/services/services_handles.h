// The process's table of service-manager handles. An SC_HANDLE is an opaque
// number that is never reused, so a closed or made-up handle is recognised
// (ERROR_INVALID_HANDLE) instead of being dereferenced.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/internal.h"
#include "platform/posix/kernel/fail.h"
#include "platform/posix/win32_api.h"

namespace emu::svc {

// Generic rights as the manager maps them onto service rights.
constexpr DWORD kGenericExecute = 0x20000000u;
constexpr DWORD kGenericAll = 0x10000000u;
constexpr DWORD kMaximumAllowed = 0x02000000u;

struct HandleInfo {
  bool manager = false;
  DWORD access = 0;
  std::string name;     // a service handle's service, as the caller named it
  int64_t row = 0;      // its service_handles row
  std::string machine;  // the machine directory it belongs to
};

SC_HANDLE NewHandle(const HandleInfo& info);
// False for a handle that is not open (or belongs to another machine).
bool LookupHandle(SC_HANDLE handle, HandleInfo* info);
void DropHandle(SC_HANDLE handle);
// The fault rules' and call trace's text for a call on this handle: the
// service name, "SCManager" for a manager handle, "" for a bad handle.
std::string MatchText(SC_HANDLE handle);

DWORD MapServiceAccess(DWORD access);
DWORD MapManagerAccess(DWORD access);

}  // namespace emu::svc

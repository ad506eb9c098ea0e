// The process's service-manager handles.
#include "platform/posix/services/services_handles.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/posix/machine/current_machine.h"

namespace emu::svc {
namespace {

std::mutex g_mutex;
std::map<uintptr_t, HandleInfo> g_handles;
// Never zero and never reused; steps of 4 keep the values pointer-shaped.
uintptr_t g_next_handle = 0x5c0000;

}  // namespace

SC_HANDLE NewHandle(const HandleInfo& info) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_next_handle += 4;
  g_handles[g_next_handle] = info;
  return reinterpret_cast<SC_HANDLE>(g_next_handle);
}

bool LookupHandle(SC_HANDLE handle, HandleInfo* info) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == g_handles.end()) return false;
    *info = it->second;
  }
  // A handle outlives neither its machine nor a switch to another one.
  return info->machine == Current().dir;
}

void DropHandle(SC_HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_handles.erase(reinterpret_cast<uintptr_t>(handle));
}

std::string MatchText(SC_HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == g_handles.end()) return std::string();
  return it->second.manager ? std::string("SCManager") : it->second.name;
}

DWORD MapServiceAccess(DWORD access) {
  if (access & GENERIC_READ)
    access |= READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
              SERVICE_ENUMERATE_DEPENDENTS;
  if (access & GENERIC_WRITE) access |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
  if (access & kGenericExecute)
    access |= READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL;
  // The emulated caller is an administrator: the most it may ask for is everything.
  if (access & (kGenericAll | kMaximumAllowed)) access |= SERVICE_ALL_ACCESS;
  return access & ~(GENERIC_READ | GENERIC_WRITE | kGenericExecute | kGenericAll | kMaximumAllowed);
}

DWORD MapManagerAccess(DWORD access) {
  constexpr DWORD kLock = 0x0008u, kQueryLockStatus = 0x0010u, kModifyBootConfig = 0x0020u;
  // Every manager handle may connect, whatever was asked for.
  access |= SC_MANAGER_CONNECT;
  if (access & GENERIC_READ) access |= READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | kQueryLockStatus;
  if (access & GENERIC_WRITE) access |= READ_CONTROL | SC_MANAGER_CREATE_SERVICE | kModifyBootConfig;
  if (access & kGenericExecute) access |= READ_CONTROL | SC_MANAGER_CONNECT | kLock;
  if (access & (kGenericAll | kMaximumAllowed)) access |= SC_MANAGER_ALL_ACCESS;
  return access & ~(GENERIC_READ | GENERIC_WRITE | kGenericExecute | kGenericAll | kMaximumAllowed);
}

}  // namespace emu::svc

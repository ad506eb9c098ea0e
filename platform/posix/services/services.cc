// The Service Control Manager's handle calls: connecting, opening, creating,
// deleting and closing. Each call first asks the machine's fault rules, then
// checks its arguments in the order Windows does, so the same bad call fails
// with the same code on both.
#include <algorithm>
#include <cstring>

#include "platform/posix/admin.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/machine/fault_check.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/posix/services/services_db.h"
#include "platform/posix/services/services_handles.h"
#include "util/multi_string.h"

using emu::Fail;

namespace {

constexpr DWORD kRpcServerUnavailable = 1722;
constexpr DWORD kServiceInteractiveProcess = 0x100;
constexpr DWORD kMaxErrorControl = 3;  // SERVICE_ERROR_CRITICAL

std::string Text(LPCSTR text) { return text ? std::string(text) : std::string(); }

std::string JoinMultiString(const std::vector<std::string>& items) {
  std::string data;
  for (const std::string& item : items) data += item + '\0';
  return data + '\0';
}

bool ValidServiceType(DWORD type) {
  switch (type & ~kServiceInteractiveProcess) {
    case SERVICE_KERNEL_DRIVER:
    case SERVICE_FILE_SYSTEM_DRIVER:
      // Only a process can interact with the desktop.
      return !(type & kServiceInteractiveProcess);
    case SERVICE_WIN32_OWN_PROCESS:
    case SERVICE_WIN32_SHARE_PROCESS:
      return true;
    default:
      return false;
  }
}

// Windows numbers the drivers of a load order group; a new one goes last.
DWORD NextTag(const std::string& group) {
  DWORD highest = 0;
  int64_t services = emu::svc::ServicesKey();
  for (const emu::svc::Config& config : emu::svc::AllServices()) {
    uint32_t tag = 0;
    int64_t key = emu::store::FindKey(services, config.name);
    if (emu::EqualsNoCase(config.group, group) && emu::store::GetDword(key, "Tag", &tag)) highest = std::max(highest, tag);
  }
  return highest + 1;
}

// Writes a new service's key with the values and types Windows writes;
// strings carry their terminator, as the manager stores them.
bool WriteServiceKey(int64_t key, LPCSTR display, DWORD type, DWORD start, DWORD error_control, LPCSTR image,
                     LPCSTR group, const DWORD* tag, const std::vector<std::string>& depends, LPCSTR account) {
  namespace store = emu::store;
  auto sz = [&](const char* value, const std::string& text, uint32_t kind) {
    return store::SetValue(key, value, kind, text + '\0');
  };
  bool ok = store::SetDword(key, "Type", type) && store::SetDword(key, "Start", start) &&
            store::SetDword(key, "ErrorControl", error_control) && sz("ImagePath", image, REG_EXPAND_SZ);
  if (ok && display && *display) ok = sz("DisplayName", display, REG_SZ);
  if (ok && group && *group) ok = sz("Group", group, REG_SZ);
  if (ok && tag) ok = store::SetDword(key, "Tag", *tag);
  std::vector<std::string> services, groups;
  for (const std::string& dependency : depends)
    (dependency[0] == emu::svc::kGroupPrefix ? groups : services)
        .push_back(dependency[0] == emu::svc::kGroupPrefix ? dependency.substr(1) : dependency);
  if (ok && !services.empty()) ok = store::SetValue(key, "DependOnService", REG_MULTI_SZ, JoinMultiString(services));
  if (ok && !groups.empty()) ok = store::SetValue(key, "DependOnGroup", REG_MULTI_SZ, JoinMultiString(groups));
  // Processes run as LocalSystem unless told otherwise; a driver has no account.
  if (ok && !emu::svc::IsDriverType(type)) ok = sz("ObjectName", account && *account ? account : "LocalSystem", REG_SZ);
  else if (ok && account && *account) ok = sz("ObjectName", account, REG_SZ);
  return ok;
}

// A service handle's row, added in the caller's transaction (row 0 when
// the row could not be written), for the service as the caller named it.
emu::svc::HandleInfo ServiceHandleRow(const std::string& name, DWORD access, const emu::svc::HandleInfo& manager) {
  emu::svc::HandleInfo info;
  info.access = emu::svc::MapServiceAccess(access);
  info.name = name;
  info.row = emu::svc::AddHandleRow(name);
  info.machine = manager.machine;
  return info;
}

}  // namespace

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
  if (DWORD fault = emu::CheckFault("OpenSCManagerA", "SCManager")) return Fail<SC_HANDLE>(fault, nullptr);
  // The emulated machine has no network: only the local manager answers.
  if (lpMachineName && *lpMachineName) return Fail<SC_HANDLE>(kRpcServerUnavailable, nullptr);
  std::string database = Text(lpDatabaseName);
  if (!database.empty() && !emu::EqualsNoCase(database, "ServicesActive"))
    return Fail<SC_HANDLE>(
        emu::EqualsNoCase(database, "ServicesFailed") ? ERROR_DATABASE_DOES_NOT_EXIST : ERROR_INVALID_NAME, nullptr);
  emu::svc::HandleInfo info;
  info.manager = true;
  info.access = emu::svc::MapManagerAccess(dwDesiredAccess);
  info.machine = emu::Current().dir;
  return emu::svc::NewHandle(info);
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  if (DWORD fault = emu::CheckFault("OpenServiceA", Text(lpServiceName))) return Fail<SC_HANDLE>(fault, nullptr);
  emu::svc::HandleInfo manager;
  if (!emu::svc::LookupHandle(hSCManager, &manager) || !manager.manager)
    return Fail<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
  if (!lpServiceName) return Fail<SC_HANDLE>(ERROR_INVALID_ADDRESS, nullptr);
  if (!emu::svc::IsValidServiceName(lpServiceName)) return Fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
  emu::Transaction tx;
  if (!tx.ok()) return Fail<SC_HANDLE>(ERROR_SERVICE_DATABASE_LOCKED, nullptr);
  // A service marked for deletion can still be opened until it is gone.
  if (!emu::svc::ServiceExists(lpServiceName)) {
    tx.Commit();
    return Fail<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
  }
  emu::svc::HandleInfo info = ServiceHandleRow(lpServiceName, dwDesiredAccess, manager);
  if (info.row == 0 || !tx.Commit()) return Fail<SC_HANDLE>(emu::WriteError(ERROR_SERVICE_DATABASE_LOCKED), nullptr);
  return emu::svc::NewHandle(info);
}

SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                         LPCSTR lpServiceStartName, LPCSTR lpPassword) {
  if (DWORD fault = emu::CheckFault("CreateServiceA", Text(lpServiceName))) return Fail<SC_HANDLE>(fault, nullptr);
  emu::svc::HandleInfo manager;
  if (!emu::svc::LookupHandle(hSCManager, &manager) || !manager.manager)
    return Fail<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
  if (!lpServiceName || !lpBinaryPathName) return Fail<SC_HANDLE>(ERROR_INVALID_ADDRESS, nullptr);
  if (!(manager.access & SC_MANAGER_CREATE_SERVICE)) return Fail<SC_HANDLE>(ERROR_ACCESS_DENIED, nullptr);
  std::string name = lpServiceName;
  if (!emu::svc::IsValidServiceName(name)) return Fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
  bool driver = emu::svc::IsDriverType(dwServiceType);
  bool bad_start = dwStartType > SERVICE_DISABLED || (!driver && dwStartType < SERVICE_AUTO_START);
  bool bad_tag = lpdwTagId && (!driver || dwStartType > SERVICE_SYSTEM_START || !lpLoadOrderGroup || !*lpLoadOrderGroup);
  if (!*lpBinaryPathName || !ValidServiceType(dwServiceType) || bad_start || dwErrorControl > kMaxErrorControl ||
      bad_tag || (lpDisplayName && strlen(lpDisplayName) > emu::svc::kMaxServiceNameLength))
    return Fail<SC_HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
  std::vector<std::string> depends = MultiStringItems(lpDependencies);

  emu::Transaction tx;
  if (!tx.ok()) return Fail<SC_HANDLE>(ERROR_SERVICE_DATABASE_LOCKED, nullptr);
  if (emu::svc::ServiceExists(name)) {
    DWORD error = emu::svc::LoadRuntime(name).marked_delete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
    tx.Commit();
    return Fail<SC_HANDLE>(error, nullptr);
  }
  // A display name may not be another service's name or display name, even
  // when it is the new service's own name.
  if (lpDisplayName && *lpDisplayName && emu::admin::DisplayNameTaken(lpDisplayName))
    return Fail<SC_HANDLE>(ERROR_DUPLICATE_SERVICE_NAME, nullptr);
  if (emu::svc::WouldDependOnItself(name, depends)) return Fail<SC_HANDLE>(ERROR_CIRCULAR_DEPENDENCY, nullptr);
  DWORD tag = lpdwTagId ? NextTag(lpLoadOrderGroup) : 0;
  int64_t key = emu::store::CreateKey(emu::svc::ServicesKey(), name, "");
  emu::svc::Runtime runtime;  // stopped, no pending times, stops when asked
  if (key == emu::store::kNoKey ||
      !WriteServiceKey(key, lpDisplayName, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
                       lpLoadOrderGroup, lpdwTagId ? &tag : nullptr, depends, lpServiceStartName) ||
      !emu::svc::SaveRuntime(name, runtime))
    return Fail<SC_HANDLE>(emu::WriteError(ERROR_REGISTRY_IO_FAILED), nullptr);
  emu::svc::HandleInfo info = ServiceHandleRow(name, dwDesiredAccess, manager);
  if (info.row == 0 || !tx.Commit()) return Fail<SC_HANDLE>(emu::WriteError(ERROR_SERVICE_DATABASE_LOCKED), nullptr);
  if (lpdwTagId) *lpdwTagId = tag;
  return emu::svc::NewHandle(info);
}

BOOL DeleteService(SC_HANDLE hService) {
  if (DWORD fault = emu::CheckFault("DeleteService", emu::svc::MatchText(hService))) return Fail<BOOL>(fault, FALSE);
  emu::svc::HandleInfo info;
  if (!emu::svc::LookupHandle(hService, &info) || info.manager) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  if (!(info.access & DELETE)) return Fail<BOOL>(ERROR_ACCESS_DENIED, FALSE);
  emu::Transaction tx;
  if (!tx.ok()) return Fail<BOOL>(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
  int64_t key = emu::svc::FindServiceKey(info.name);
  if (key == emu::store::kNoKey) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  emu::svc::Runtime runtime = emu::svc::LoadRuntime(info.name);
  if (runtime.marked_delete) return Fail<BOOL>(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
  // The service goes when it has stopped and its last handle is closed; until
  // then it is only marked, in the registry too, as Windows marks it.
  runtime.marked_delete = true;
  if (!emu::svc::SaveRuntime(info.name, runtime) || !emu::store::SetDword(key, "DeleteFlag", 1) || !tx.Commit())
    return Fail<BOOL>(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
  return TRUE;
}

// The handle is released even when a fault rule makes the call report an
// error: a close that fails on Windows was handed no valid open handle, so
// nothing stays open (and a deleted service is not kept marked by it).
BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  const DWORD fault = emu::CheckFault("CloseServiceHandle", emu::svc::MatchText(hSCObject));
  emu::svc::HandleInfo info;
  if (!emu::svc::LookupHandle(hSCObject, &info)) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  emu::svc::DropHandle(hSCObject);
  if (!info.manager) {
    emu::Transaction tx;
    emu::svc::RemoveHandleRow(info.row);
    emu::svc::FinalizeIfDeletable(info.name);
    tx.Commit();
  }
  if (fault) return Fail<BOOL>(fault, FALSE);
  return TRUE;
}

namespace emu::admin {

bool DisplayNameTaken(const std::string& display) {
  for (const svc::Config& config : svc::AllServices())
    if (EqualsNoCase(config.display, display) || EqualsNoCase(config.name, display)) return true;
  return false;
}

}  // namespace emu::admin

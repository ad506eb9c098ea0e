// The Service Control Manager's calls on an open service: status, controls,
// start, and the list of dependents.
#include <cstring>

#include "platform/posix/machine/database.h"
#include "platform/posix/machine/fault_check.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/posix/services/services_db.h"
#include "platform/posix/services/services_handles.h"

using emu::Fail;

namespace {

constexpr DWORD kControlPause = 2, kControlContinue = 3, kControlParamChange = 6, kControlNetBindDisable = 10;
constexpr DWORD kFirstUserControl = 128, kLastUserControl = 255;

// An open service handle with the access a call needs, or the error to fail with.
DWORD CheckServiceHandle(SC_HANDLE handle, DWORD needed_access, emu::svc::HandleInfo* info) {
  if (!emu::svc::LookupHandle(handle, info) || info->manager) return ERROR_INVALID_HANDLE;
  return (info->access & needed_access) == needed_access ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// The service's configuration and current state; false when it has gone
// from under an open handle (removed by the machine's administrator).
bool LoadService(const std::string& name, emu::svc::Config* config, emu::svc::Runtime* runtime) {
  int64_t key = emu::svc::FindServiceKey(name);
  if (key == emu::store::kNoKey || !emu::svc::ReadConfig(key, config)) return false;
  *runtime = emu::svc::LoadRuntime(name);
  return true;
}

// ControlService reports the status with these answers only, as Windows does.
bool ReportsStatus(DWORD error) {
  return error == ERROR_SUCCESS || error == ERROR_INVALID_SERVICE_CONTROL || error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL ||
         error == ERROR_SERVICE_NOT_ACTIVE;
}

void FillStatus(const std::string& name, LPSERVICE_STATUS status) {
  emu::svc::Config config;
  emu::svc::Runtime runtime;
  if (status && LoadService(name, &config, &runtime)) *status = emu::svc::MakeStatus(config, runtime);
}

DWORD AccessForControl(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) return SERVICE_STOP;
  if (control == SERVICE_CONTROL_INTERROGATE) return SERVICE_INTERROGATE;
  if (control == kControlPause || control == kControlContinue ||
      (control >= kControlParamChange && control <= kControlNetBindDisable))
    return SERVICE_PAUSE_CONTINUE;
  if (control >= kFirstUserControl && control <= kLastUserControl) return SERVICE_USER_DEFINED_CONTROL;
  return 0;
}

DWORD SendControl(const std::string& name, DWORD control) {
  if (control == SERVICE_CONTROL_STOP) return emu::svc::StopService(name);
  DWORD state = emu::svc::LoadRuntime(name).state;
  if (state == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  if (control == SERVICE_CONTROL_INTERROGATE) return ERROR_SUCCESS;
  // The emulated services accept nothing but stop (and interrogation).
  return state == SERVICE_RUNNING ? ERROR_INVALID_SERVICE_CONTROL : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
}

}  // namespace

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  if (DWORD fault = emu::CheckFault("QueryServiceStatus", emu::svc::MatchText(hService)))
    return Fail<BOOL>(fault, FALSE);
  emu::svc::HandleInfo info;
  if (!emu::svc::LookupHandle(hService, &info) || info.manager) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  if (!lpServiceStatus) return Fail<BOOL>(ERROR_INVALID_ADDRESS, FALSE);
  if (DWORD error = CheckServiceHandle(hService, SERVICE_QUERY_STATUS, &info)) return Fail<BOOL>(error, FALSE);
  emu::Transaction tx;
  if (!tx.ok()) return Fail<BOOL>(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
  emu::svc::Config config;
  emu::svc::Runtime runtime;
  if (!LoadService(info.name, &config, &runtime)) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  tx.Commit();
  *lpServiceStatus = emu::svc::MakeStatus(config, runtime);
  return TRUE;
}

// The configuration as the manager hands it out: the fixed part first, its
// strings packed after it, nothing written unless everything fits. A service
// without a display name shows its name; dependencies are the services, then
// the groups marked with SC_GROUP_IDENTIFIERA, as one double-terminated list.
BOOL QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
                         LPDWORD pcbBytesNeeded) {
  if (DWORD fault = emu::CheckFault("QueryServiceConfigA", emu::svc::MatchText(hService)))
    return Fail<BOOL>(fault, FALSE);
  emu::svc::HandleInfo info;
  if (DWORD error = CheckServiceHandle(hService, SERVICE_QUERY_CONFIG, &info)) return Fail<BOOL>(error, FALSE);
  if (!pcbBytesNeeded || (!lpServiceConfig && cbBufSize != 0)) return Fail<BOOL>(ERROR_INVALID_ADDRESS, FALSE);
  emu::Transaction tx;
  if (!tx.ok()) return Fail<BOOL>(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
  const int64_t key = emu::svc::FindServiceKey(info.name);
  emu::svc::Config config;
  if (key == emu::store::kNoKey || !emu::svc::ReadConfig(key, &config)) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  uint32_t tag = 0;
  emu::store::GetDword(key, "Tag", &tag);
  std::string account = emu::store::GetString(key, "ObjectName");
  tx.Commit();

  std::string dependencies;
  for (const std::string& dependency : config.depends) dependencies += dependency + '\0';
  dependencies += '\0';
  if (config.depends.empty()) dependencies += '\0';
  const std::string* texts[] = {&config.image, &config.group, &account, &config.display};
  size_t needed = sizeof(QUERY_SERVICE_CONFIGA) + dependencies.size();
  for (const std::string* text : texts) needed += text->size() + 1;
  *pcbBytesNeeded = static_cast<DWORD>(needed);
  if (needed > cbBufSize) return Fail<BOOL>(ERROR_INSUFFICIENT_BUFFER, FALSE);
  char* next = reinterpret_cast<char*>(lpServiceConfig + 1);
  auto pack = [&next](const std::string& bytes) {
    memcpy(next, bytes.data(), bytes.size());
    char* at = next;
    next += bytes.size();
    return at;
  };
  QUERY_SERVICE_CONFIGA result;
  result.dwServiceType = config.type;
  result.dwStartType = config.start_type;
  result.dwErrorControl = config.error_control;
  result.lpBinaryPathName = pack(config.image + '\0');
  result.lpLoadOrderGroup = pack(config.group + '\0');
  result.dwTagId = tag;
  result.lpDependencies = pack(dependencies);
  result.lpServiceStartName = pack(account + '\0');
  result.lpDisplayName = pack(config.display + '\0');
  memcpy(lpServiceConfig, &result, sizeof result);
  return TRUE;
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  emu::svc::HandleInfo info;
  if (DWORD fault = emu::CheckFault("ControlService", emu::svc::MatchText(hService))) {
    // An injected answer is reported the way a real one would be.
    if (ReportsStatus(fault) && CheckServiceHandle(hService, 0, &info) == ERROR_SUCCESS)
      FillStatus(info.name, lpServiceStatus);
    return Fail<BOOL>(fault, FALSE);
  }
  if (!emu::svc::LookupHandle(hService, &info) || info.manager) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  if (!lpServiceStatus) return Fail<BOOL>(ERROR_INVALID_ADDRESS, FALSE);
  DWORD needed = AccessForControl(dwControl);
  if (needed == 0) return Fail<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
  if (DWORD error = CheckServiceHandle(hService, needed, &info)) return Fail<BOOL>(error, FALSE);
  emu::Transaction tx;
  if (!tx.ok()) return Fail<BOOL>(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
  if (emu::svc::FindServiceKey(info.name) == emu::store::kNoKey) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  DWORD error = SendControl(info.name, dwControl);
  if (ReportsStatus(error)) FillStatus(info.name, lpServiceStatus);
  tx.Commit();
  return error == ERROR_SUCCESS ? TRUE : Fail<BOOL>(error, FALSE);
}

BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors) {
  if (DWORD fault = emu::CheckFault("StartServiceA", emu::svc::MatchText(hService))) return Fail<BOOL>(fault, FALSE);
  emu::svc::HandleInfo info;
  if (DWORD error = CheckServiceHandle(hService, SERVICE_START, &info)) return Fail<BOOL>(error, FALSE);
  emu::Transaction tx;
  if (!tx.ok()) return Fail<BOOL>(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
  if (emu::svc::FindServiceKey(info.name) == emu::store::kNoKey) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  DWORD error = emu::svc::StartService(info.name);
  // Dependencies started on the way stay started even when the service fails.
  tx.Commit();
  return error == ERROR_SUCCESS ? TRUE : Fail<BOOL>(error, FALSE);
}

BOOL EnumDependentServicesA(SC_HANDLE hService, DWORD dwServiceState, LPENUM_SERVICE_STATUSA lpServices,
                            DWORD cbBufSize, LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned) {
  if (DWORD fault = emu::CheckFault("EnumDependentServicesA", emu::svc::MatchText(hService)))
    return Fail<BOOL>(fault, FALSE);
  emu::svc::HandleInfo info;
  if (!emu::svc::LookupHandle(hService, &info) || info.manager) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  if (!pcbBytesNeeded || !lpServicesReturned || (!lpServices && cbBufSize != 0))
    return Fail<BOOL>(ERROR_INVALID_ADDRESS, FALSE);
  if (dwServiceState == 0 || (dwServiceState & ~SERVICE_STATE_ALL) != 0)
    return Fail<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
  if (DWORD error = CheckServiceHandle(hService, SERVICE_ENUMERATE_DEPENDENTS, &info)) return Fail<BOOL>(error, FALSE);
  emu::Transaction tx;
  if (!tx.ok()) return Fail<BOOL>(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
  if (emu::svc::FindServiceKey(info.name) == emu::store::kNoKey) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  std::vector<emu::svc::Dependent> dependents = emu::svc::Dependents(info.name, dwServiceState);
  tx.Commit();

  // Entries at the front, their strings packed down from the end of the
  // buffer; nothing is written unless everything fits.
  size_t needed = dependents.size() * sizeof(ENUM_SERVICE_STATUSA);
  for (const emu::svc::Dependent& dependent : dependents)
    needed += dependent.config.name.size() + 1 + dependent.config.display.size() + 1;
  *lpServicesReturned = 0;
  *pcbBytesNeeded = static_cast<DWORD>(needed);
  if (needed > cbBufSize) return Fail<BOOL>(ERROR_MORE_DATA, FALSE);
  char* base = reinterpret_cast<char*>(lpServices);
  size_t tail = cbBufSize;
  auto pack = [&](const std::string& text) {
    tail -= text.size() + 1;
    memcpy(base + tail, text.c_str(), text.size() + 1);
    return base + tail;
  };
  for (size_t i = 0; i < dependents.size(); ++i) {
    ENUM_SERVICE_STATUSA entry;
    entry.lpServiceName = pack(dependents[i].config.name);
    entry.lpDisplayName = pack(dependents[i].config.display);
    entry.ServiceStatus = emu::svc::MakeStatus(dependents[i].config, dependents[i].runtime);
    memcpy(&lpServices[i], &entry, sizeof entry);
  }
  *lpServicesReturned = static_cast<DWORD>(dependents.size());
  return TRUE;
}

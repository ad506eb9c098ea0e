#include "services/saved_service.h"

#include <cstring>

#include "journal/run_journal.h"
#include "platform/handles.h"
#include "services/service_open.h"
#include "services/start_service.h"

namespace {

// The definition of an open service, in the manager's own words.
bool ReadDefinition(SC_HANDLE service, const char* service_name, SavedService* saved) {
  DWORD needed = 0;
  std::vector<BYTE> buffer;
  for (;;) {
    auto* config = buffer.empty() ? nullptr : reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed)) break;
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
      JournalCallFailed("QueryServiceConfigA", error, service_name);
      return false;
    }
    buffer.assign(needed, 0);
  }
  const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data());
  auto text = [](const char* value) { return std::string(value ? value : ""); };
  saved->Type = config->dwServiceType;
  saved->StartType = config->dwStartType;
  saved->ErrorControl = config->dwErrorControl;
  saved->ImagePath = text(config->lpBinaryPathName);
  saved->Group = text(config->lpLoadOrderGroup);
  saved->DisplayName = text(config->lpDisplayName);
  saved->Dependencies.clear();
  for (const char* item = config->lpDependencies; item && *item; item += strlen(item) + 1)
    saved->Dependencies.push_back(item);
  return true;
}

bool SameDefinition(const SavedService& a, const SavedService& b) {
  return a.Type == b.Type && a.StartType == b.StartType && a.ErrorControl == b.ErrorControl &&
         a.ImagePath == b.ImagePath && a.Group == b.Group && a.Dependencies == b.Dependencies &&
         a.DisplayName == b.DisplayName;
}

bool Failed(const char* call, const char* service_name) {
  JournalCallFailed(call, GetLastError(), service_name);
  return false;
}

// Deletes the open service and lets go of it, so the manager can remove it
// once it is stopped. One already marked for deletion is on its way.
bool DeleteAndClose(ScopedService* service, const char* service_name) {
  if (!DeleteService(service->Get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    return Failed("DeleteService", service_name);
  JournalChange("service deleted", service_name);
  if (!CloseServiceHandle(service->Release())) return Failed("CloseServiceHandle", service_name);
  return true;
}

bool CreateSaved(SC_HANDLE manager, const char* service_name, const SavedService& saved) {
  std::string dependencies;
  for (const std::string& item : saved.Dependencies) dependencies += item + '\0';
  dependencies += '\0';
  ScopedService created(CreateServiceA(manager, service_name, saved.DisplayName.c_str(), SERVICE_ALL_ACCESS, saved.Type,
                                       saved.StartType, saved.ErrorControl, saved.ImagePath.c_str(),
                                       saved.Group.empty() ? nullptr : saved.Group.c_str(), nullptr,
                                       saved.Dependencies.empty() ? nullptr : dependencies.data(), nullptr, nullptr));
  if (!created) return Failed("CreateServiceA", service_name);
  JournalChange("service created", service_name);
  return true;
}

}  // namespace

bool SaveService(const char* service_name, SavedService* saved) {
  *saved = SavedService();
  const OpenedService opened =
      OpenManagerAndService(service_name, SC_MANAGER_CONNECT, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
  if (!opened.Manager) {
    JournalCallFailed(opened.FailedCall, opened.Error, service_name);
    return false;
  }
  if (!opened.Service) {
    if (opened.Error == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    JournalCallFailed(opened.FailedCall, opened.Error, service_name);
    return false;
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(opened.Service.Get(), &status)) return Failed("QueryServiceStatus", service_name);
  if (!ReadDefinition(opened.Service.Get(), service_name, saved)) return false;
  saved->Present = true;
  saved->Running = status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_START_PENDING ||
                   status.dwCurrentState == SERVICE_CONTINUE_PENDING;
  return true;
}

bool RestoreService(const char* service_name, const SavedService& saved) {
  {
    OpenedService opened =
        OpenManagerAndService(service_name, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE, SERVICE_ALL_ACCESS);
    if (!opened.Manager) {
      JournalCallFailed(opened.FailedCall, opened.Error, service_name);
      return false;
    }
    if (!opened.Service && opened.Error != ERROR_SERVICE_DOES_NOT_EXIST) {
      JournalCallFailed(opened.FailedCall, opened.Error, service_name);
      return false;
    }
    if (!saved.Present) return !opened.Service || DeleteAndClose(&opened.Service, service_name);
    bool create = !opened.Service;
    if (opened.Service) {
      SavedService now;
      if (!ReadDefinition(opened.Service.Get(), service_name, &now)) return false;
      create = !SameDefinition(now, saved);
      if (create && !DeleteAndClose(&opened.Service, service_name)) return false;
    }
    if (create && !CreateSaved(opened.Manager.Get(), service_name, saved)) return false;
  }
  // The display text only shows in lines, and none is printed.
  return !saved.Running || StartServiceAndWait(service_name, service_name, 0);
}

// Removing a service and creating the component's driver service.
#include "services/service_definition.h"

#include <cstdio>

#include "journal/run_journal.h"
#include "platform/handles.h"
#include "services/service_open.h"
#include "services/service_query.h"

namespace {

// Lets go of a service just deleted (or found marked for deletion). The
// manager removes it once it is stopped and its last handle is closed; one
// still running, whose handle could not be closed, or held by anyone else
// stays marked for deletion, until the next restart at worst.
void CloseDeletedService(OpenedService* opened, const char* service_name) {
  const bool closed = CloseServiceHandle(opened->Service.Release()) != 0;
  if (!closed) JournalCallFailed("CloseServiceHandle", GetLastError(), service_name);
  if (!JournalActive()) return;
  const ServicePresence left = closed ? QueryServicePresence(service_name) : ServicePresence::NotRunning;
  if (left == ServicePresence::Running || left == ServicePresence::NotRunning)
    JournalServiceMarkedForDelete(service_name);
}

}  // namespace

Flag RemoveService(const char* service_name, const char* display_text, Flag verbose) {
  OpenedService opened = OpenServiceOrSay(service_name, SERVICE_ALL_ACCESS, "remove", verbose);
  if (!opened) return 0;
  const SC_HANDLE service = opened.Service.Get();
  Say(verbose, "Removing Service (%s).\n", display_text);
  if (DeleteService(service)) {
    JournalChange("service deleted", service_name);
    CloseDeletedService(&opened, service_name);
    return 1;
  }
  // A service already marked for deletion goes once its last handle closes:
  // the removal asked for is under way.
  const DWORD error = GetLastError();
  if (error != ERROR_SERVICE_MARKED_FOR_DELETE) {
    JournalCallFailed("DeleteService", error, service_name);
    return 0;
  }
  CloseDeletedService(&opened, service_name);
  return 1;
}

Flag CreateDriverService(const char* service_name, const char* display_text, Flag verbose) {
  const ScopedService manager = OpenManagerOrSay(service_name, "install", verbose);
  if (!manager) return 0;
  Say(verbose, "Installing Driver (%s).\n", display_text);
  // Relative to the Windows directory, where the driver file is installed.
  char image_path[kTextBufferSize];
  int length = snprintf(image_path, sizeof image_path, "System32\\drivers\\%s.sys", service_name);
  if (length < 0 || length >= static_cast<int>(sizeof image_path)) {
    // A cut path would name another file: refuse as a failed creation.
    Say(verbose, "\tERROR: Could not open handle to driver - %s\n", service_name);
    return 0;
  }
  // The manager registers the service name as the display name too.
  ScopedService created(CreateServiceA(manager.Get(), service_name, service_name, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, image_path,
                                       "Extended Base", nullptr, nullptr, nullptr, nullptr));
  if (created) {
    JournalChange("service created", service_name);
    return 1;
  }
  const DWORD error = GetLastError();
  JournalCallFailed("CreateServiceA", error, service_name);
  SetLastError(error);
  // An existing service is left to the caller to judge, silently.
  if (GetLastError() != ERROR_SERVICE_EXISTS)
    Say(verbose, "\tERROR: Could not open handle to driver - %s\n", service_name);
  return 0;
}

// Opening a service through a manager connection of its own, the first step
// of every service operation. The operations that speak journal the call
// that failed and, when verbose, print its error line; the question of a
// service's presence asks silently.
#pragma once

#include "platform/handles.h"
#include "platform/platform.h"

// Both handles of an opened service. The service is declared last, so it is
// closed before its manager, as every operation has always let go of them.
struct OpenedService {
  ScopedService Manager;
  ScopedService Service;
  // The call that failed ("OpenSCManagerA" or "OpenServiceA") with the code
  // it left; nullptr when both handles are open.
  const char* FailedCall = nullptr;
  DWORD Error = ERROR_SUCCESS;

  explicit operator bool() const { return FailedCall == nullptr; }
};

// Opens the manager and then the service, silently. On a failure nothing
// more is called: what opened stays held by the result until it goes.
OpenedService OpenManagerAndService(const char* service_name, DWORD manager_access, DWORD service_access);

// The manager with all access, for an operation on the service ("install").
// When it cannot be opened: the failed call journalled, and when verbose
// "\tERROR: Could not open handle to Service Control Manager to <operation> - <service>".
ScopedService OpenManagerOrSay(const char* service_name, const char* operation, Flag verbose);

// The manager with all access and the service with the access asked, for an
// operation ("stop", "start", "remove"). A manager that cannot be opened is
// told as by OpenManagerOrSay; a service that cannot be opened is journalled
// and, when verbose, told as "\tERROR: Could not open handle to service - <service>".
OpenedService OpenServiceOrSay(const char* service_name, DWORD service_access, const char* operation, Flag verbose);

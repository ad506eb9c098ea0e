#include "services/service_open.h"

#include "journal/run_journal.h"

namespace {

void SayManagerUnopened(const char* service_name, const char* operation, DWORD error, Flag verbose) {
  JournalCallFailed("OpenSCManagerA", error, service_name);
  Say(verbose, "\tERROR: Could not open handle to Service Control Manager to %s - %s\n", operation, service_name);
}

}  // namespace

OpenedService OpenManagerAndService(const char* service_name, DWORD manager_access, DWORD service_access) {
  OpenedService opened;
  opened.Manager = ScopedService(OpenSCManagerA(nullptr, nullptr, manager_access));
  if (!opened.Manager) {
    opened.FailedCall = "OpenSCManagerA";
    opened.Error = GetLastError();
    return opened;
  }
  opened.Service = ScopedService(OpenServiceA(opened.Manager.Get(), service_name, service_access));
  if (!opened.Service) {
    opened.FailedCall = "OpenServiceA";
    opened.Error = GetLastError();
  }
  return opened;
}

ScopedService OpenManagerOrSay(const char* service_name, const char* operation, Flag verbose) {
  ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) SayManagerUnopened(service_name, operation, GetLastError(), verbose);
  return manager;
}

OpenedService OpenServiceOrSay(const char* service_name, DWORD service_access, const char* operation, Flag verbose) {
  OpenedService opened = OpenManagerAndService(service_name, SC_MANAGER_ALL_ACCESS, service_access);
  if (!opened.Manager) {
    SayManagerUnopened(service_name, operation, opened.Error, verbose);
  } else if (!opened.Service) {
    JournalCallFailed("OpenServiceA", opened.Error, service_name);
    Say(verbose, "\tERROR: Could not open handle to service - %s\n", service_name);
  }
  return opened;
}

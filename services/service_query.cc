#include "services/service_query.h"

#include "platform/handles.h"

ServicePresence QueryServicePresence(const char* service_name) {
  ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ServicePresence::Unknown;
  ScopedService service(OpenServiceA(manager.Get(), service_name, SERVICE_QUERY_STATUS));
  if (!service) {
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServicePresence::Absent : ServicePresence::Unknown;
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.Get(), &status)) return ServicePresence::Unknown;
  return status.dwCurrentState == SERVICE_RUNNING ? ServicePresence::Running : ServicePresence::NotRunning;
}

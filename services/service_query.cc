#include "services/service_query.h"

#include "services/service_open.h"

ServicePresence QueryServicePresence(const char* service_name) {
  const OpenedService opened = OpenManagerAndService(service_name, SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS);
  if (!opened.Manager) return ServicePresence::Unknown;
  if (!opened.Service)
    return opened.Error == ERROR_SERVICE_DOES_NOT_EXIST ? ServicePresence::Absent : ServicePresence::Unknown;
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(opened.Service.Get(), &status)) return ServicePresence::Unknown;
  return status.dwCurrentState == SERVICE_RUNNING ? ServicePresence::Running : ServicePresence::NotRunning;
}

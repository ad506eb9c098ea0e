// The services of an older managed-node installation, stopped before an
// install over it and started again afterwards. The machine's role decides
// which groups run: the node's agents, SNMP, the DMI service layer and the
// driver on a managed node; the EMANATE pair on a management station.
#include "services/legacy_sequences.h"

#include "services/agent_sequences.h"
#include "services/driver_service.h"
#include "services/service_query.h"
#include "services/start_service.h"
#include "services/stop_service.h"

namespace {

constexpr char kSnmpService[] = "SNMP";
constexpr char kSnmpDisplay[] = "SNMP";
constexpr char kDmiService[] = "win32sl";
constexpr char kDmiDisplay[] = "Win32 DMI Service Layer";
constexpr char kEmanateService[] = "EMANATE";
constexpr char kEmanateDisplay[] = "SNMP EMANATE Master Agent";
constexpr char kEmanateAdapterService[] = "wpa";
constexpr char kEmanateAdapterDisplay[] = "SNMP EMANATE Adapter for NT";

// Every row counts and every row runs: one failure clears the result but
// never keeps the later services from being handled.
void Count(Flag* result, Flag row_result) {
  if (!row_result) *result = 0;
}

}  // namespace

Flag StopLegacyServices(const LegacyRoles& roles, Flag verbose) {
  Flag result = 1;
  if (roles.ManagedNode) {
    Count(&result, StopNodeAgents(verbose));
  }
  // The adapter goes before the master agent it plugs into; neither takes its
  // dependents along.
  if (roles.ManagementStation) {
    Count(&result, StopSingleService(kEmanateAdapterService, kEmanateAdapterDisplay, verbose));
    Count(&result, StopSingleService(kEmanateService, kEmanateDisplay, verbose));
  }
  // The driver goes last: the agents and services above hold it open.
  if (roles.ManagedNode) {
    Count(&result, StopServiceTree(kSnmpService, kSnmpDisplay, verbose));
    Count(&result, StopServiceTree(kDmiService, kDmiDisplay, verbose));
    // The driver is stopped to free its old file. Its failed stop (which
    // prints its own line) is passed over only where the manager says the
    // service does not exist because this tool's install deleted it and was
    // interrupted: only this run can finish that install. A node that never
    // had the service keeps the refusal.
    if (!StopServiceTree(kDriverServiceName, kDriverServiceDisplay, verbose) &&
        !(roles.DriverDeletedByInstall && QueryServicePresence(kDriverServiceName) == ServicePresence::Absent &&
          roles.DriverDeletedByInstall()))
      result = 0;
  }
  return result;
}

// The reverse of the stop, without the driver: the install between the two
// has recreated and started it already.
Flag StartLegacyServices(const LegacyRoles& roles, Flag verbose) {
  Flag result = 1;
  if (roles.ManagedNode) {
    Count(&result, StartServiceAndWait(kDmiService, kDmiDisplay, verbose));
    Count(&result, StartServiceAndWait(kSnmpService, kSnmpDisplay, verbose));
  }
  if (roles.ManagementStation) {
    Count(&result, StartServiceAndWait(kEmanateService, kEmanateDisplay, verbose));
    Count(&result, StartServiceAndWait(kEmanateAdapterService, kEmanateAdapterDisplay, verbose));
  }
  if (roles.ManagedNode) {
    Count(&result, StartNodeAgents(verbose));
  }
  return result;
}

// After a preparation that failed before anything was deleted: the driver
// first (silently, as it may be missing), since the node's agents hold it
// open, then the services as after an install.
Flag RestartLegacyServices(const LegacyRoles& roles, Flag verbose) {
  Flag result = 1;
  if (roles.ManagedNode) Count(&result, StartServiceAndWait(kDriverServiceName, kDriverServiceDisplay, 0));
  Count(&result, StartLegacyServices(roles, verbose));
  return result;
}

// The services of an older managed-node installation, stopped before an
// install over it and started again afterwards. The machine's role decides
// which groups run: the node's agents, SNMP, the DMI service layer and the
// driver on a managed node; the EMANATE pair on a management station.
#include "services/legacy_sequences.h"

#include "component/component_keys.h"
#include "probe/environment_profile.h"
#include "services/agent_sequences.h"
#include "services/service_control.h"

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

Flag StopLegacyServices(Flag verbose) {
  Flag result = 1;
  if (IsManagedNode()) {
    Count(&result, StopNodeAgents(verbose));
  }
  // The adapter goes before the master agent it plugs into; neither takes its
  // dependents along.
  if (IsManagementStation()) {
    Count(&result, StopSingleService(kEmanateAdapterService, kEmanateAdapterDisplay, verbose));
    Count(&result, StopSingleService(kEmanateService, kEmanateDisplay, verbose));
  }
  // The driver goes last: the agents and services above hold it open.
  if (IsManagedNode()) {
    Count(&result, StopServiceTree(kSnmpService, kSnmpDisplay, verbose));
    Count(&result, StopServiceTree(kDmiService, kDmiDisplay, verbose));
    // The driver is stopped to free its old file. Like every row, it counts
    // even when the service is missing: a node without its driver service is
    // not the installation this preparation knows how to take over.
    Count(&result, StopServiceTree(KOTA_DRIVER_SERVICE, KOTA_DRIVER_DISPLAY, verbose));
  }
  return result;
}

// The reverse of the stop, without the driver: the install between the two
// has recreated and started it already.
Flag StartLegacyServices(Flag verbose) {
  Flag result = 1;
  if (IsManagedNode()) {
    Count(&result, StartServiceAndWait(kDmiService, kDmiDisplay, verbose));
    Count(&result, StartServiceAndWait(kSnmpService, kSnmpDisplay, verbose));
  }
  if (IsManagementStation()) {
    Count(&result, StartServiceAndWait(kEmanateService, kEmanateDisplay, verbose));
    Count(&result, StartServiceAndWait(kEmanateAdapterService, kEmanateAdapterDisplay, verbose));
  }
  if (IsManagedNode()) {
    Count(&result, StartNodeAgents(verbose));
  }
  return result;
}

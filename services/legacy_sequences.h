// The services of an older managed-node installation, stopped before and
// started after an install over it.
#pragma once

#include "platform/platform.h"

// What the machine is, as its environment profile says: which groups of
// services the sequences handle. The caller reads them off the profile, so
// these sequences need nothing of the probe.
struct LegacyRoles {
  Flag ManagedNode = 0;        // the node's agents, SNMP, the DMI service layer, the driver
  Flag ManagementStation = 0;  // the EMANATE pair
  // Whether a driver service the manager says does not exist is one this
  // tool's own install deleted before it was interrupted; asked only then.
  // None: a missing driver service fails the stop like any other.
  bool (*DriverDeletedByInstall)() = nullptr;
};

Flag StopLegacyServices(const LegacyRoles& roles, Flag verbose);
Flag StartLegacyServices(const LegacyRoles& roles, Flag verbose);
// Brings back what a failed preparation stopped: the driver, then as
// StartLegacyServices.
Flag RestartLegacyServices(const LegacyRoles& roles, Flag verbose);

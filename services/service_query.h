// Whether a service is there and running, asked without touching it.
#pragma once

#include "platform/platform.h"

enum class ServicePresence {
  Running,
  NotRunning,  // there, in any state but running
  Absent,      // the manager knows no service of that name
  Unknown,     // the manager or the service could not be asked
};

// Prints nothing; only an answer of the manager that the service does not
// exist makes it Absent, so a refused question is never taken for absence.
ServicePresence QueryServicePresence(const char* service_name);

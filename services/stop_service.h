// Stopping a service through the Service Control Manager. Each call opens
// its own manager connection, prints its own lines when verbose, closes what
// it opened and returns the success flag.
#pragma once

#include "platform/platform.h"

// Stops the service after its active dependents (recursively). A running
// service is watched at most 15 polls, then at most 120 polls while it is
// stop-pending, one second apart.
Flag StopServiceTree(const char* service_name, const char* display_text, Flag verbose);
// Stops the service without looking at its dependents.
Flag StopSingleService(const char* service_name, const char* display_text, Flag verbose);

// Starting a service through the Service Control Manager: opens its own
// manager connection, prints its own lines when verbose, closes what it
// opened and returns the success flag.
#pragma once

#include "platform/platform.h"

// Starts the service and waits while it is start-pending.
Flag StartServiceAndWait(const char* service_name, const char* display_text, Flag verbose);

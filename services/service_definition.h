// Creating and removing a service's definition in the Service Control
// Manager's database. Each call opens its own manager connection, prints its
// own lines when verbose, closes what it opened and returns the success flag.
#pragma once

#include "platform/platform.h"

// Deletes the service from the manager's database (does not stop it).
Flag RemoveService(const char* service_name, const char* display_text, Flag verbose);
// Creates the component's kernel driver service (does not start it).
Flag CreateDriverService(const char* service_name, const char* display_text, Flag verbose);

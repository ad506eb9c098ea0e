// A service's definition and state saved before a change, and put back
// after it: what an install that fails needs to leave the driver service as
// it found it. Silent: failed calls are journalled, nothing is printed.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// A service as it was: there or not, running or not, and its definition as
// the manager gave it.
struct SavedService {
  bool Present = false;
  bool Running = false;  // running or on its way to running
  DWORD Type = 0;
  DWORD StartType = 0;
  DWORD ErrorControl = 0;
  std::string ImagePath;
  std::string Group;
  std::vector<std::string> Dependencies;  // services, then groups marked with '+'
  std::string DisplayName;
};

// false when the manager or the service could not be asked (a service the
// manager says does not exist is saved as absent).
bool SaveService(const char* service_name, SavedService* saved);

// Makes the service what it was: deleted when it was absent; else, when it
// is missing or its definition differs, created again with the saved one
// (an existing one is deleted first); then started when it ran. The service
// must be stopped already. false when any of it failed.
bool RestoreService(const char* service_name, const SavedService& saved);

#pragma once

#include "component/currency_check.h"
#include "platform/platform.h"

// Whether an install brings the component over in full or only registers the
// reference, and what decided it: the currency check, or (with this tool's
// own version recorded) a driver service the manager says is absent, or the
// marker of an install an earlier run left unfinished.
struct InstallChoice {
  bool FullInstall = true;
  CurrencyCheck Currency;
  bool DriverServiceAbsent = false;
  bool UnfinishedInstall = false;   // an earlier install left its marker
  bool StartStoppedDriver = false;  // only registers, and starts the stopped driver
};
InstallChoice ChooseInstall(const char* windows_directory, Flag verbose);

// Brings the component to version 4.0 when needed and registers the reference.
Flag InstallComponent(const char* reference_name, const char* pre_proc_image, Flag verbose);

// The install mode's work on the component: the choice between bringing the
// component over in full and registering the reference alone, and the
// install that follows it. Every product lets go of the driver before a file
// is replaced and is told to begin again once the new driver runs.
#pragma once

#include "component/change_marker.h"
#include "component/currency_check.h"
#include "platform/platform.h"
#include "services/service_query.h"

// What the machine holds that decides between a full install and a
// registration only: the currency check, the marker an earlier run left, and
// whether the manager knows the driver service.
struct InstallFacts {
  CurrencyCheck Currency;
  bool UnfinishedInstall = false;  // the marker names an install left unfinished
  ChangeMarker Marker;             // as read, when the currency check asked for it
  ServicePresence Driver = ServicePresence::Unknown;
};

// Whether an install brings the component over in full or only registers the
// reference, and what decided it: the currency check, or (with this tool's
// own version recorded) a driver service the manager says is absent, or the
// marker of an install an earlier run left unfinished.
struct InstallChoice {
  bool FullInstall = true;
  CurrencyCheck Currency;
  bool DriverServiceAbsent = false;
  bool UnfinishedInstall = false;  // an earlier install left its marker
};

// The choice itself, from the facts alone: the run and the plan both ask it.
InstallChoice DecideInstall(const InstallFacts& facts);
// Reads the facts in the order the choice asks them, and no further than it
// needs (a run makes exactly the calls it always made).
InstallFacts ReadInstallFacts(const char* windows_directory, Flag verbose);
InstallChoice ChooseInstall(const char* windows_directory, Flag verbose);

class InstallUndo;

// Brings the component to version 4.0 when needed and registers the
// reference. chosen, when given, learns the choice the install followed.
// With undo (MEVRID_ROLLBACK=on), a full install that fails before its
// point of no return puts the component back as it was (undo tells whether
// it did); without, it is the install as it always was.
Flag InstallComponent(const char* reference_name, const char* pre_proc_image, Flag verbose,
                      InstallChoice* chosen = nullptr, InstallUndo* undo = nullptr);

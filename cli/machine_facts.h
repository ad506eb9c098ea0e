// What the machine holds that decides a run of the tool, read by read-only
// calls alone: the snapshot the plan decides from, as the run would.
#pragma once

#include <string>
#include <vector>

#include "cli/run_options.h"
#include "component/change_marker.h"
#include "component/install.h"
#include "platform/platform.h"

struct ReferenceFacts {
  std::string Name;           // as the enumeration gives it
  bool TellsEnd = false;      // its "-e" command line forms under the run's verbose flag
  bool TellsBegin = false;    // and its "-b" one
  bool TellsEndQuiet = false;  // its "-e" one under "-q" (the silent legacy removal)
};

struct MachineFacts {
  bool WindowsDirectoryKnown = false;
  Flag OlderNode = 0;
  std::string NodeVersion;
  bool LegacyServices = false;  // the older installation has services to stop and start
  InstallFacts Install;         // in full: the currency check, the marker, the driver
  ChangeMarker Marker;
  bool DriverMarkedForDelete = false;
  bool VersionRecorded = false;  // any "Version" text at all
  bool ComponentKeyPresent = false;
  bool ReferencesKeyPresent = false;
  bool WalkComplete = true;  // the enumeration of the references reached its end
  std::vector<ReferenceFacts> References;  // in the order the notifications walk them
  bool CallerHoldsImage = false;           // registering the caller's image changes nothing
  bool DriverFilePresent = false;
  bool LibraryFilePresent = false;
  bool VersionKeyPresent = false;
  bool UninstallerReadable = false;  // "UnInstallImage" reads
  bool UninstallerPresent = false;   // the file it names, expanded, exists
};

// Reads the facts for a run with these options; changes nothing.
MachineFacts ReadMachineFacts(const RunOptions& options);

// The machine's state as far as the component goes, read without changing
// anything: what the status program reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/change_marker.h"
#include "component/component_files.h"
#include "platform/platform.h"

struct ReferenceState {
  std::string Name;
  bool ImageReadable = false;
  std::string Image;  // as stored, unexpanded
};

enum class DriverPresence { Defined, Absent, Unknown };

struct DriverServiceState {
  DriverPresence Presence = DriverPresence::Unknown;
  DWORD State = 0;  // SERVICE_STOPPED ...; 0 when it could not be asked
  bool StartTypeReadable = false;
  DWORD StartType = 0;
  bool ImagePathReadable = false;
  std::string ImagePath;
};

enum class ReleaseComparison { NotCompared, ReleaseMissing, Newer, Same, Older };

struct InstalledFileState {
  const ComponentFile* File = nullptr;
  std::string Path;
  bool Present = false;
  uint64_t Size = 0;
  FILETIME LastWrite{};
  ReleaseComparison Release = ReleaseComparison::NotCompared;
};

// An old component file an all-or-nothing install keeps beside the
// installed one until it is past its point of no return.
struct KeptAsideFileState {
  std::string Path;  // the kept-aside name
  bool FactsReadable = false;
  uint64_t Size = 0;
  FILETIME LastWrite{};
};

struct MachineState {
  bool VersionRecorded = false;
  std::string Version;
  bool UninstallerRecorded = false;
  std::string Uninstaller;
  ChangeMarker ChangeInProgress;  // the changes a run left unfinished
  std::vector<ReferenceState> References;
  DriverServiceState Driver;
  bool WindowsDirectoryKnown = false;
  std::vector<InstalledFileState> Files;
  std::vector<KeptAsideFileState> KeptAside;  // only those that exist
  std::vector<std::string> PendingDeletions;  // paths, without the "\??\"
  bool InstallLockHeld = false;
};

// compare_with_release: the installed files are set against the release
// files the current directory holds.
MachineState ReadMachineState(bool compare_with_release);

// The driver service as the manager and its registry key describe it.
DriverServiceState ReadDriverServiceState();
// The stored image of one reference; false when it is not registered.
bool ReadReferenceImage(const char* reference_name, std::string* image);
// Every reference in the order the notifications walk them.
std::vector<ReferenceState> ReadReferences();

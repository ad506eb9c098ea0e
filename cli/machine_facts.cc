#include "cli/machine_facts.h"

#include "component/component_files.h"
#include "component/component_keys.h"
#include "component/currency_check.h"
#include "component/notifications.h"
#include "component/references.h"
#include "platform/environment_text.h"
#include "platform/handles.h"
#include "platform/registry_access.h"
#include "probe/environment_profile.h"
#include "services/driver_service.h"

namespace {

bool FileThere(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A service deleted while it runs keeps the flag Windows sets in its key
// until it is gone.
bool MarkedForDelete() {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverServiceKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  DWORD flag = 0;
  DWORD size = sizeof flag;
  return RegQueryValueExA(key.Get(), "DeleteFlag", nullptr, nullptr, reinterpret_cast<BYTE*>(&flag), &size) ==
             ERROR_SUCCESS &&
         flag != 0;
}

void ReadUninstaller(MachineFacts* facts) {
  ScopedKey version;
  facts->VersionKeyPresent =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaVersionKey, 0, KEY_READ, version.Receive()) == ERROR_SUCCESS;
  if (!facts->VersionKeyPresent) return;
  char uninstaller[kTextBufferSize];
  facts->UninstallerReadable = QueryRegistryText(version.Get(), "UnInstallImage", uninstaller, sizeof uninstaller);
  char expanded[kTextBufferSize];
  facts->UninstallerPresent = facts->UninstallerReadable && ExpandText(uninstaller, expanded) && FileThere(expanded);
}

}  // namespace

MachineFacts ReadMachineFacts(const RunOptions& options) {
  MachineFacts facts;
  const EnvironmentProfile profile = ProbeEnvironment();
  facts.OlderNode = IsOlderNode(profile);
  facts.NodeVersion = profile.NodeVersion;
  facts.LegacyServices = IsManagedNode(profile) || IsManagementStation(profile);
  const char* windows_directory = LookupWindowsDirectory();
  facts.WindowsDirectoryKnown = windows_directory != nullptr;
  facts.Marker = ReadChangeMarker();
  facts.Install.UnfinishedInstall = facts.Marker.Install;
  facts.Install.Driver = QueryServicePresence(kDriverServiceName);
  facts.DriverMarkedForDelete = MarkedForDelete();
  std::string version;
  facts.VersionRecorded = ReadRecordedVersion(&version);
  facts.ComponentKeyPresent = RegistryKeyExists(kKotaComponentKey, KEY_READ);
  facts.ReferencesKeyPresent = RegistryKeyExists(kKotaReferencesKey, KEY_READ);
  facts.WalkComplete = WalkReferences([&](HKEY reference, const char* name) {
    ReferenceFacts found;
    found.Name = name;
    char command_line[kTextBufferSize];
    found.TellsEnd = FormPreProcCommand(reference, "-e", options.Verbose, command_line);
    found.TellsBegin = FormPreProcCommand(reference, "-b", options.Verbose, command_line);
    found.TellsEndQuiet = FormPreProcCommand(reference, "-e", 0, command_line);
    facts.References.push_back(found);
  });
  facts.CallerHoldsImage = ReferenceHoldsImage(options.ReferenceName, options.PreProcImage);
  ReadUninstaller(&facts);
  if (windows_directory == nullptr) return facts;
  facts.Install.Currency = CheckComponentCurrency(windows_directory, 0);
  facts.DriverFilePresent = FileThere(InstalledPathOf(ComponentRole::Driver, windows_directory));
  facts.LibraryFilePresent = FileThere(InstalledPathOf(ComponentRole::Library, windows_directory));
  return facts;
}

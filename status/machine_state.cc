#include "status/machine_state.h"

#include <string_view>

#include "component/component_keys.h"
#include "component/component_text.h"
#include "component/currency_check.h"
#include "component/kept_files.h"
#include "component/older_node_copies.h"
#include "component/references.h"
#include "platform/environment_text.h"
#include "platform/handles.h"
#include "platform/install_lock.h"
#include "platform/registry_access.h"
#include "probe/environment_profile.h"
#include "services/driver_service.h"
#include "util/multi_string.h"

namespace {

constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kNtPrefix[] = "\\??\\";

bool ReadText(HKEY key, const char* value_name, std::string* text) {
  char buffer[kTextBufferSize];
  if (!QueryRegistryText(key, value_name, buffer, sizeof buffer)) return false;
  *text = buffer;
  return true;
}

bool ReadDword(HKEY key, const char* value_name, DWORD* value) {
  DWORD type = 0, size = sizeof *value;
  return RegQueryValueExA(key, value_name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof *value;
}

// A file's size and last write, read through a handle opened for reading
// and sharing reads, as the currency check opens it.
bool ReadFileFacts(const std::string& path, uint64_t* size, FILETIME* last_write) {
  if (!FitsTextBuffer(path)) return false;
  ScopedFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD high = 0;
  const DWORD low = GetFileSize(file.Get(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
  *size = (static_cast<uint64_t>(high) << 32) | low;
  return GetFileTime(file.Get(), nullptr, nullptr, last_write) != FALSE;
}

InstalledFileState ReadInstalledFile(const ComponentFile& file, const char* windows_directory, bool compare) {
  InstalledFileState state;
  state.File = &file;
  state.Path = InstalledPathOf(file.Role, windows_directory);
  state.Present = ReadFileFacts(state.Path, &state.Size, &state.LastWrite);
  if (!compare || !state.Present) return state;
  uint64_t release_size = 0;
  FILETIME release_time{};
  if (!ReadFileFacts(FormatText(file.ReleasePathFormat, file.FileName), &release_size, &release_time)) {
    state.Release = ReleaseComparison::ReleaseMissing;
    return state;
  }
  const LONG order = CompareFileTime(&state.LastWrite, &release_time);
  state.Release = order < 0 ? ReleaseComparison::Older : order > 0 ? ReleaseComparison::Newer : ReleaseComparison::Same;
  return state;
}

// The kept-aside names of the three installed files and, on an older node
// that keeps its library under the program files directory, of that copy,
// which an install over it keeps aside there.
std::vector<KeptAsideFileState> ReadKeptAsideFiles(const char* windows_directory) {
  std::vector<std::string> originals;
  for (const ComponentFile& file : kComponentFiles) originals.push_back(InstalledPathOf(file.Role, windows_directory));
  const EnvironmentProfile profile = ProbeEnvironment();
  if (IsOlderNode(profile) && KeepsLibraryUnderProgramFiles(profile) && profile.ProgramFilesPath[0] != '\0')
    originals.push_back(OlderNodeLibraryPath(true, profile.ProgramFilesPath, windows_directory));
  std::vector<KeptAsideFileState> kept;
  for (const std::string& original : originals) {
    KeptAsideFileState file;
    file.Path = KeptAsidePathOf(original);
    if (GetFileAttributesA(file.Path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    file.FactsReadable = ReadFileFacts(file.Path, &file.Size, &file.LastWrite);
    kept.push_back(file);
  }
  return kept;
}

// PendingFileRenameOperations holds pairs of strings (source, target) and
// ends with an empty one; a deletion has an empty target.
std::vector<std::string> ReadPendingDeletions() {
  std::vector<std::string> deletions;
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS)
    return deletions;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.Get(), "PendingFileRenameOperations", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size == 0)
    return deletions;
  std::string data(size, '\0');
  if (RegQueryValueExA(key.Get(), "PendingFileRenameOperations", nullptr, &type,
                       reinterpret_cast<LPBYTE>(data.data()), &size) != ERROR_SUCCESS)
    return deletions;
  data.resize(size);
  const std::vector<std::string> strings = SplitAtNul(data);
  for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
    if (!strings[i + 1].empty()) continue;
    const std::string& source = strings[i];
    deletions.push_back(source.rfind(kNtPrefix, 0) == 0 ? source.substr(sizeof kNtPrefix - 1) : source);
  }
  return deletions;
}

}  // namespace

bool ReadReferenceImage(const char* reference_name, std::string* image) {
  std::string key_path;
  if (!FormReferenceKeyPath(reference_name, &key_path)) return false;
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  if (!ReadText(key.Get(), "PreProcImage", image)) image->clear();
  return true;
}

std::vector<ReferenceState> ReadReferences() {
  std::vector<ReferenceState> references;
  WalkReferences([&](HKEY key, const char* name) {
    ReferenceState reference;
    reference.Name = name;
    reference.ImageReadable = ReadText(key, "PreProcImage", &reference.Image);
    references.push_back(reference);
  });
  return references;
}

DriverServiceState ReadDriverServiceState() {
  DriverServiceState driver;
  {
    ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager) {
      ScopedService service(OpenServiceA(manager.Get(), kDriverServiceName, SERVICE_QUERY_STATUS));
      if (service) {
        driver.Presence = DriverPresence::Defined;
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service.Get(), &status)) driver.State = status.dwCurrentState;
      } else if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        driver.Presence = DriverPresence::Absent;
      }
    }
  }
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverServiceKey, 0, KEY_QUERY_VALUE, key.Receive()) == ERROR_SUCCESS) {
    driver.StartTypeReadable = ReadDword(key.Get(), "Start", &driver.StartType);
    driver.ImagePathReadable = ReadText(key.Get(), "ImagePath", &driver.ImagePath);
  }
  return driver;
}

MachineState ReadMachineState(bool compare_with_release) {
  MachineState state;
  state.VersionRecorded = ReadRecordedVersion(&state.Version);
  {
    char buffer[kTextBufferSize];
    state.UninstallerRecorded = ReadRegistryText(kKotaVersionKey, "UnInstallImage", KEY_READ, buffer, sizeof buffer);
    if (state.UninstallerRecorded) state.Uninstaller = buffer;
  }
  state.ChangeInProgress = ReadChangeMarker();
  state.References = ReadReferences();
  state.Driver = ReadDriverServiceState();
  if (const char* windows_directory = LookupWindowsDirectory()) {
    state.WindowsDirectoryKnown = true;
    for (const ComponentFile& file : kComponentFiles)
      state.Files.push_back(ReadInstalledFile(file, windows_directory, compare_with_release));
    state.KeptAside = ReadKeptAsideFiles(windows_directory);
  }
  state.PendingDeletions = ReadPendingDeletions();
  state.InstallLockHeld = IsInstallLockHeldNow();
  return state;
}

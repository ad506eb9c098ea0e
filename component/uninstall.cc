#include "component/uninstall.h"

#include <cstring>

#include "component/component_files.h"
#include "component/component_keys.h"
#include "component/component_text.h"
#include "component/references.h"
#include "platform/handles.h"
#include "platform/registry_access.h"
#include "services/service_control.h"
#include "services/service_query.h"

namespace {

enum class Remaining { Others, None, Unknown };

// Whether another product still holds a reference, asked of the first
// subkey alone.
Remaining RemainingReferences() {
  ScopedKey references;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_REFERENCES_KEY, 0, KEY_READ, references.Receive()) != ERROR_SUCCESS)
    return Remaining::Unknown;
  char name[kTextBufferSize];
  DWORD name_size = sizeof name;
  LONG status = RegEnumKeyExA(references.Get(), 0, name, &name_size, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) return Remaining::Others;
  if (status == ERROR_NO_MORE_ITEMS) return Remaining::None;
  return Remaining::Unknown;
}

// The reference is not registered, no other one is, and the component key
// is still there. Only answers of the registry that the keys do not exist
// count: a key that cannot be read is never taken for a missing one.
bool IsComponentLeftBehind(const char* reference_name) {
  // Every ordinary removal drops the legacy reference silently after the
  // caller's own, where its absence is the normal case: it must never take
  // away a component that the caller's removal has just chosen to keep.
  if (strcmp(reference_name, LEGACY_REFERENCE_NAME) == 0) return false;
  std::string key_path;
  if (!FormReferenceKeyPath(reference_name, &key_path)) return false;
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_FILE_NOT_FOUND)
    return false;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_REFERENCES_KEY, 0, KEY_READ, key.Receive());
  if (status == ERROR_SUCCESS) {
    char name[kTextBufferSize];
    DWORD name_size = sizeof name;
    if (RegEnumKeyExA(key.Get(), 0, name, &name_size, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS)
      return false;
  } else if (status != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_COMPONENT_KEY, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

Flag DeleteInstalledFile(const char* windows_directory, ComponentRole role, Flag verbose) {
  for (const ComponentFile& file : kComponentFiles) {
    if (file.Role != role) continue;
    // Formed in full: a path too long to hold fails the deletion with its
    // whole text instead of deleting a file with a cut name.
    std::string path = FormatText(file.InstalledPathFormat, windows_directory, file.FileName);
    return DeleteComponentFile(path.c_str(), verbose);
  }
  return 0;
}

}  // namespace

Flag UninstallComponent(const char* reference_name, Flag verbose) {
  Flag result = 1;
  const char* windows_directory = LookupWindowsDirectory();
  if (windows_directory == nullptr) {
    if (verbose) ConsolePrint("\tERROR: Could not determine %%SystemRoot%% directory.\n");
    return 0;
  }
  // Only the product that goes is told, and only to let go.
  const Flag notified = NotifyReferenceEnd(reference_name, verbose);
  // A removal that failed after it had deleted the last reference left the
  // component without any: asked again, the removal finishes the job instead
  // of refusing a reference that is gone already, since nothing else could
  // ever remove that component. (A reference that was notified exists.)
  if (notified || !IsComponentLeftBehind(reference_name)) {
    if (!DeleteReference(reference_name, verbose)) return 0;
    switch (RemainingReferences()) {
      case Remaining::Others:
        return 1;
      case Remaining::Unknown:
        if (verbose) ConsolePrint("\tERROR: Could not locate KOTA components.\n");
        return 0;
      case Remaining::None:
        break;
    }
  }

  // The last reference is gone: the component goes, every step tried
  // whatever became of the one before. Keys go leaf first, since a key with
  // subkeys cannot be deleted; files go once the driver no longer runs.
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, KOTA_REFERENCES_KEY);
  if (!StopServiceTree(KOTA_DRIVER_SERVICE, KOTA_DRIVER_DISPLAY, verbose)) result = 0;
  const Flag driver_removed = RemoveService(KOTA_DRIVER_SERVICE, KOTA_DRIVER_DISPLAY, verbose);
  if (!driver_removed) result = 0;
  if (!DeleteInstalledFile(windows_directory, ComponentRole::Driver, verbose)) result = 0;
  if (!DeleteInstalledFile(windows_directory, ComponentRole::Library, verbose)) result = 0;

  {
    ScopedKey version;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_VERSION_KEY, 0, KEY_READ, version.Receive());
    if (status != ERROR_SUCCESS) {
      // A version key that is there but cannot be read still records where
      // the tool's copy lies: like an unreadable record below, it keeps the
      // keys, so a later removal can still find and delete that copy.
      if (status != ERROR_FILE_NOT_FOUND) return 0;
      result = 0;
    } else {
      // The uninstaller is whatever file the install recorded. Without that
      // record the keys stay, so the tool's copy can still be found later.
      char uninstaller[kTextBufferSize];
      if (!QueryRegistryText(version.Get(), "UnInstallImage", uninstaller, sizeof uninstaller)) return 0;
      version.Close();
      char expanded[kTextBufferSize];
      DWORD needed = ExpandEnvironmentStringsA(uninstaller, expanded, kTextBufferSize);
      // An expansion that failed has deleted nothing: the removal is not
      // done, and the record stays for the one that finishes it. One that
      // does not fit names no file the tool could delete (a cut path would
      // name another): it deletes nothing and costs nothing.
      if (needed == 0) return 0;
      if (needed <= static_cast<DWORD>(kTextBufferSize) && !DeleteComponentFile(expanded, verbose)) result = 0;
    }
  }

  // A driver service that is still defined keeps the component's keys: it
  // would try to load a deleted driver at every restart, and only a removal
  // that finds the component left behind can delete it later. One that was
  // gone already is no reason to keep them.
  if (!driver_removed && QueryServicePresence(KOTA_DRIVER_SERVICE) != ServicePresence::Absent) return result;
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, KOTA_VERSION_KEY);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, KOTA_COMPONENT_KEY);
  return result;
}

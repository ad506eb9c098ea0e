#include "component/uninstall.h"

#include "component/component_files.h"
#include "component/component_keys.h"
#include "component/component_text.h"
#include "component/references.h"
#include "journal/run_journal.h"
#include "platform/handles.h"
#include "platform/registry_access.h"
#include "services/service_control.h"

namespace {

enum class Remaining { Others, None, Unknown };

// Whether another product still holds a reference, asked of the first
// subkey alone.
Remaining RemainingReferences() {
  ScopedKey references;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_REFERENCES_KEY, 0, KEY_READ, references.Receive());
  if (status != ERROR_SUCCESS) {
    JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(status), KOTA_REFERENCES_KEY);
    return Remaining::Unknown;
  }
  char name[kTextBufferSize];
  DWORD name_size = sizeof name;
  status = RegEnumKeyExA(references.Get(), 0, name, &name_size, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) return Remaining::Others;
  if (status == ERROR_NO_MORE_ITEMS) return Remaining::None;
  JournalCallFailed("RegEnumKeyExA", static_cast<unsigned long>(status), KOTA_REFERENCES_KEY);
  return Remaining::Unknown;
}

// A path too long to hold fails the deletion with its whole text instead of
// deleting a file with a cut name.
Flag DeleteInstalledFile(const char* windows_directory, ComponentRole role, Flag verbose) {
  return DeleteComponentFile(InstalledPathOf(role, windows_directory).c_str(), verbose);
}

// The keys go silently; the journal still learns what became of each.
void DeleteComponentKey(const char* key_path) {
  const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path);
  if (status == ERROR_SUCCESS)
    JournalChange("key deleted", key_path);
  else
    JournalCallFailed("RegDeleteKeyA", static_cast<unsigned long>(status), key_path);
}

enum class Uninstaller { Handled, Unreadable };

// Deletes the tool's installed copy that the version key records. Only a
// record that cannot be read stops the removal (the keys then stay, so the
// copy can still be found); a key that cannot be opened or a deletion that
// fails clears the result and the removal goes on.
Uninstaller DeleteRecordedUninstaller(Flag verbose, Flag* result) {
  ScopedKey version;
  const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_VERSION_KEY, 0, KEY_READ, version.Receive());
  if (status != ERROR_SUCCESS) {
    JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(status), KOTA_VERSION_KEY);
    *result = 0;
    return Uninstaller::Handled;
  }
  char uninstaller[kTextBufferSize];
  if (!QueryRegistryText(version.Get(), "UnInstallImage", uninstaller, sizeof uninstaller)) {
    JournalNote("the recorded uninstaller cannot be read: the component's keys stay");
    return Uninstaller::Unreadable;
  }
  version.Close();
  char expanded[kTextBufferSize];
  DWORD needed = ExpandEnvironmentStringsA(uninstaller, expanded, kTextBufferSize);
  // A failed expansion deletes nothing and does not count. One that does not
  // fit is treated the same: a cut path would name another file.
  if (needed == 0 || needed > static_cast<DWORD>(kTextBufferSize)) return Uninstaller::Handled;
  if (!DeleteComponentFile(expanded, verbose)) *result = 0;
  return Uninstaller::Handled;
}

}  // namespace

Flag UninstallComponent(const char* reference_name, Flag verbose) {
  Flag result = 1;
  const char* windows_directory = LookupWindowsDirectory();
  if (windows_directory == nullptr) {
    if (verbose) ConsolePrint("\tERROR: Could not determine %%SystemRoot%% directory.\n");
    return 0;
  }
  // Only the product that goes is told, and only to let go; whether it ran
  // does not matter, the deletion of the reference decides.
  JournalStep("notify-reference");
  NotifyReferenceEnd(reference_name, verbose);
  JournalStep("unregister");
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

  // The last reference is gone: the component goes, every step tried
  // whatever became of the one before. Keys go leaf first, since a key with
  // subkeys cannot be deleted; files go once the driver no longer runs.
  JournalStep("remove-component");
  DeleteComponentKey(KOTA_REFERENCES_KEY);
  JournalStep("stop-driver");
  if (!StopServiceTree(KOTA_DRIVER_SERVICE, KOTA_DRIVER_DISPLAY, verbose)) result = 0;
  JournalStep("remove-driver");
  if (!RemoveService(KOTA_DRIVER_SERVICE, KOTA_DRIVER_DISPLAY, verbose)) result = 0;
  JournalStep("delete-files");
  if (!DeleteInstalledFile(windows_directory, ComponentRole::Driver, verbose)) result = 0;
  if (!DeleteInstalledFile(windows_directory, ComponentRole::Library, verbose)) result = 0;
  if (DeleteRecordedUninstaller(verbose, &result) == Uninstaller::Unreadable) return 0;

  JournalStep("remove-keys");
  DeleteComponentKey(KOTA_VERSION_KEY);
  DeleteComponentKey(KOTA_COMPONENT_KEY);
  return result;
}

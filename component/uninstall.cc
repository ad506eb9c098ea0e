#include "component/uninstall.h"

#include <initializer_list>

#include "component/change_marker.h"
#include "component/component_files.h"
#include "component/component_keys.h"
#include "component/component_text.h"
#include "component/kept_files.h"
#include "component/notifications.h"
#include "component/references.h"
#include "component/windows_directory.h"
#include "journal/journal_steps.h"
#include "journal/run_journal.h"
#include "platform/ascii_case.h"
#include "platform/environment_text.h"
#include "platform/handles.h"
#include "platform/registry_access.h"
#include "services/driver_service.h"
#include "services/service_definition.h"
#include "services/service_query.h"
#include "services/stop_service.h"

namespace {

enum class Remaining { Others, None, Unknown };

// Whether another product still holds a reference, asked of the first
// subkey alone. A removal being finished may find the References key gone
// already: its last reference went with it.
Remaining RemainingReferences(bool finishing) {
  ScopedKey references;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaReferencesKey, 0, KEY_READ, references.Receive());
  if (status != ERROR_SUCCESS) {
    if (finishing && status == ERROR_FILE_NOT_FOUND) return Remaining::None;
    JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(status), kKotaReferencesKey);
    return Remaining::Unknown;
  }
  char name[kTextBufferSize];
  DWORD name_size = sizeof name;
  status = RegEnumKeyExA(references.Get(), 0, name, &name_size, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) return Remaining::Others;
  if (status == ERROR_NO_MORE_ITEMS) return Remaining::None;
  JournalCallFailed("RegEnumKeyExA", static_cast<unsigned long>(status), kKotaReferencesKey);
  return Remaining::Unknown;
}

// Only a manager's or a file system's answer that the thing does not exist
// counts as gone: a refused question is never taken for absence.
bool ReferenceGone(const char* reference_name) {
  std::string key_path;
  if (!FormReferenceKeyPath(reference_name, &key_path)) return false;
  ScopedKey reference;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, reference.Receive()) == ERROR_FILE_NOT_FOUND;
}

bool FileGone(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A path too long to hold fails the deletion with its whole text instead of
// deleting a file with a cut name. A removal being finished passes over a
// file that the interrupted run deleted already.
Flag DeleteInstalledFile(const char* windows_directory, ComponentRole role, bool finishing, Flag verbose) {
  const std::string path = InstalledPathOf(role, windows_directory);
  if (finishing && FileGone(path)) return 1;
  return DeleteComponentFile(path.c_str(), verbose);
}

// Whether the key has a subkey other than the tool's own ones.
bool HasForeignSubkey(const char* key_path, std::initializer_list<const char*> own) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  for (DWORD index = 0;; ++index) {
    char name[kTextBufferSize];
    DWORD name_size = sizeof name;
    if (RegEnumKeyExA(key.Get(), index, name, &name_size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return false;
    bool is_own = false;
    for (const char* own_name : own) is_own = is_own || EqualsIgnoringAsciiCase(name, own_name);
    if (!is_own) return true;
  }
}

// A subkey the tool never makes, below the component key or its version key.
bool HeldByForeignKey() {
  return HasForeignSubkey(kKotaVersionKey, {}) || HasForeignSubkey(kKotaComponentKey, {"References", "CurrentVersion"});
}

// The keys go silently; the journal still learns what became of each.
bool DeleteComponentKey(const char* key_path) {
  const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path);
  if (status == ERROR_SUCCESS)
    JournalChange("key deleted", key_path);
  else
    JournalCallFailed("RegDeleteKeyA", static_cast<unsigned long>(status), key_path);
  return status == ERROR_SUCCESS;
}

// What became of the tool's installed copy: whether the removal failed for
// it, and whether the copy is left for the same removal to find again.
enum class Uninstaller {
  Handled,       // deleted, gone already, or a path no try would fit
  FailedGone,    // the deletion failed, yet the copy is gone
  FailedLeft,    // failed, and the copy is left: its path unknown or undeleted
  Unexpanded,    // its path does not expand: deleted nothing, and does not count
  Unreadable,    // the record does not read: the removal stops
};

// Deletes the tool's installed copy that the version key records. Only a
// record that cannot be read stops the removal (the keys then stay, so the
// copy can still be found); a key that cannot be opened or a deletion that
// fails fails the removal, which goes on.
// A removal being finished may find the version key, and the copy with it,
// gone already.
Uninstaller DeleteRecordedUninstaller(bool finishing, Flag verbose) {
  ScopedKey version;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaVersionKey, 0, KEY_READ, version.Receive());
  if (opened != ERROR_SUCCESS) {
    if (finishing && opened == ERROR_FILE_NOT_FOUND) return Uninstaller::Handled;
    JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(opened), kKotaVersionKey);
    // The copy's path cannot be known: the keys stay for the same removal.
    return Uninstaller::FailedLeft;
  }
  char uninstaller[kTextBufferSize];
  const LONG read = QueryRegistryTextStatus(version.Get(), "UnInstallImage", uninstaller, sizeof uninstaller);
  if (read != ERROR_SUCCESS) {
    JournalCallFailed("RegQueryValueExA", static_cast<unsigned long>(read), kKotaVersionKey);
    JournalNote("the recorded uninstaller cannot be read: the component's keys stay");
    return Uninstaller::Unreadable;
  }
  version.Close();
  char expanded[kTextBufferSize];
  bool too_long = false;
  // A failed expansion deletes nothing and does not count, and the keys stay
  // for the same removal again. One that does not fit deletes nothing either
  // (a cut path would name another file), but another try would not fit any
  // better: the keys go.
  if (!ExpandText(uninstaller, expanded, &too_long)) return too_long ? Uninstaller::Handled : Uninstaller::Unexpanded;
  if (finishing && FileGone(expanded)) return Uninstaller::Handled;
  if (!DeleteComponentFile(expanded, verbose))
    return FileGone(expanded) ? Uninstaller::FailedGone : Uninstaller::FailedLeft;
  return Uninstaller::Handled;
}

// Whether a failed removal left part of the component behind: the driver
// service not deleted, or the driver or library file still where it was
// installed. A step
// that failed because its object was gone already leaves nothing to finish.
bool ComponentLeftBehind(const char* windows_directory, bool service_deleted) {
  // A deleted service that still runs is marked for deletion: the restart
  // takes it, as it takes the files set aside.
  if (!service_deleted && QueryServicePresence(kDriverServiceName) != ServicePresence::Absent) return true;
  for (ComponentRole role : {ComponentRole::Driver, ComponentRole::Library})
    if (!FileGone(InstalledPathOf(role, windows_directory))) return true;
  return false;
}

// Marks the removal (unless it finishes an earlier one), tells the product
// to let go and deletes its reference. Only the product that goes is told,
// and only to let go; whether it ran does not matter, the deletion of the reference decides; a removal being finished
// may find that the interrupted run deleted it already. A reference that
// stays takes its marker entry with it.
Flag DropReference(const char* reference_name, bool finishing, Flag verbose) {
  const bool marked = !finishing && MarkRemoval(reference_name);
  JournalStep(journal_step::kNotifyReference);
  NotifyReferenceEnd(reference_name, verbose);
  JournalStep(journal_step::kUnregister);
  if ((finishing && ReferenceGone(reference_name)) || DeleteReference(reference_name, verbose)) return 1;
  if (marked) UnmarkRemoval(reference_name);
  return 0;
}

// Stops and deletes the driver service. A removal being finished passes over
// a service that an earlier run deleted already, asked before each step: a
// service marked for deletion goes once it is stopped.
Flag RemoveDriverService(bool finishing, Flag verbose, bool* service_deleted) {
  auto service_gone = [finishing] {
    return finishing && QueryServicePresence(kDriverServiceName) == ServicePresence::Absent;
  };
  Flag result = 1;
  JournalStep(journal_step::kStopDriver);
  if (!service_gone() && !StopServiceTree(kDriverServiceName, kDriverServiceDisplay, verbose)) result = 0;
  JournalStep(journal_step::kRemoveDriver);
  *service_deleted = service_gone();
  if (!*service_deleted) {
    *service_deleted = RemoveService(kDriverServiceName, kDriverServiceDisplay, verbose) != 0;
    if (!*service_deleted) result = 0;
  }
  return result;
}

// The version key, then the component key with the marker. A component key
// that a key of someone else's keeps is as much as can be removed: it keeps
// no marker. Any other that stays keeps it, every entry.
void RemoveComponentKeys() {
  JournalStep(journal_step::kRemoveKeys);
  DeleteComponentKey(kKotaVersionKey);
  if (!DeleteComponentKey(kKotaComponentKey) && HeldByForeignKey()) ClearChangeMarker();
}

// The last reference is gone: the component goes, every step tried whatever
// became of the one before. Keys go leaf first, since a key with subkeys
// cannot be deleted; files go once the driver no longer runs. The marker goes
// with the component key.
Flag RemoveComponent(const char* windows_directory, bool finishing, const ChangeMarker& marker, Flag verbose) {
  JournalStep(journal_step::kRemoveComponent);
  DeleteComponentKey(kKotaReferencesKey);
  Flag result = 1;
  bool service_deleted = false;
  if (!RemoveDriverService(finishing, verbose, &service_deleted)) result = 0;
  JournalStep(journal_step::kDeleteFiles);
  if (!DeleteInstalledFile(windows_directory, ComponentRole::Driver, finishing, verbose)) result = 0;
  if (!DeleteInstalledFile(windows_directory, ComponentRole::Library, finishing, verbose)) result = 0;
  // Old files an install kept aside go with the component, before the key
  // whose marker names them.
  if (marker.KeptAside || marker.Discard)
    SettleKeptFiles(DeleteKeptAsideFilesOf(InstalledFilePaths(windows_directory)), false);
  bool copy_left = false;
  switch (DeleteRecordedUninstaller(finishing, verbose)) {
    case Uninstaller::Unreadable:
      return 0;
    case Uninstaller::FailedLeft:
      result = 0;
      copy_left = true;
      break;
    case Uninstaller::Unexpanded:
      copy_left = true;
      break;
    case Uninstaller::FailedGone:
      result = 0;
      break;
    case Uninstaller::Handled:
      break;
  }
  // A removal that left part of the component behind keeps what lets the
  // same command finish it: the component key with its marker, and the
  // version key with the path of the uninstaller. One whose failed steps
  // found their objects gone already has nothing to finish: the keys go all
  // the same.
  if (copy_left || (!result && ComponentLeftBehind(windows_directory, service_deleted))) return result;
  RemoveComponentKeys();
  return result;
}

}  // namespace

Flag UninstallComponent(const char* reference_name, Flag verbose, bool* entry_left_to_caller,
                        bool* component_removal) {
  if (component_removal) *component_removal = false;
  const char* windows_directory = WindowsDirectoryOrSay(verbose);
  if (windows_directory == nullptr) return 0;
  // A removal of this reference left unfinished by an earlier run is
  // finished by this one; what else the marker names (an install, other
  // removals) stays for the runs that finish them.
  const ChangeMarker marker = ReadChangeMarker();
  const bool finishing = marker.HasRemovalOf(reference_name);
  if (!DropReference(reference_name, finishing, verbose)) return 0;
  switch (RemainingReferences(finishing)) {
    case Remaining::Others:
      if (entry_left_to_caller)
        *entry_left_to_caller = true;
      else
        UnmarkRemoval(reference_name);
      return 1;
    case Remaining::Unknown:
      // The reference is gone and the component whole: the same command
      // run again counts the references again.
      Say(verbose, "\tERROR: Could not locate KOTA components.\n");
      return 0;
    case Remaining::None:
      break;
  }
  if (component_removal) *component_removal = true;
  return RemoveComponent(windows_directory, finishing, marker, verbose);
}

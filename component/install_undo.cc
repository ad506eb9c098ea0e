#include "component/install_undo.h"

#include <algorithm>

#include "component/component_keys.h"
#include "component/component_text.h"
#include "component/kept_files.h"
#include "journal/journal_steps.h"
#include "journal/run_journal.h"
#include "platform/handles.h"
#include "services/driver_service.h"
#include "services/stop_service.h"

namespace {

bool IsAbsence(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool Failed(const char* call, DWORD error, const char* subject) {
  JournalCallFailed(call, error, subject);
  return false;
}

// One value of an open key as it is: its type and bytes, or its absence.
// false when it could not be read.
bool SaveValue(HKEY key, const char* name, const char* key_path, SavedValue* saved) {
  *saved = SavedValue();
  std::string bytes(256, '\0');
  for (;;) {
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(bytes.size());
    const LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(bytes.data()), &size);
    if (status == ERROR_MORE_DATA && size > bytes.size()) {
      bytes.resize(size);
      continue;
    }
    if (IsAbsence(static_cast<DWORD>(status))) return true;
    if (status != ERROR_SUCCESS) return Failed("RegQueryValueExA", static_cast<DWORD>(status), key_path);
    bytes.resize(std::min<size_t>(size, bytes.size()));
    saved->Present = true;
    saved->Type = type;
    saved->Bytes = bytes;
    return true;
  }
}

bool RestoreValue(HKEY key, const char* name, const SavedValue& saved) {
  const LONG status = saved.Present
                          ? RegSetValueExA(key, name, 0, saved.Type, reinterpret_cast<const BYTE*>(saved.Bytes.data()),
                                           static_cast<DWORD>(saved.Bytes.size()))
                          : RegDeleteValueA(key, name);
  if (status == ERROR_SUCCESS || (!saved.Present && IsAbsence(static_cast<DWORD>(status)))) return true;
  return Failed(saved.Present ? "RegSetValueExA" : "RegDeleteValueA", static_cast<DWORD>(status), kKotaVersionKey);
}

// Whether a key is there: true or false, or a failure to ask.
enum class KeyPresence { Present, Absent, Unknown };

KeyPresence OpenIfPresent(const char* key_path, ScopedKey* key) {
  const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, key->Receive());
  if (status == ERROR_SUCCESS) return KeyPresence::Present;
  if (IsAbsence(static_cast<DWORD>(status))) return KeyPresence::Absent;
  JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(status), key_path);
  return KeyPresence::Unknown;
}

bool DeleteKeyIfPresent(const char* key_path) {
  const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path);
  if (status == ERROR_SUCCESS) {
    JournalChange("key deleted", key_path);
    return true;
  }
  return IsAbsence(static_cast<DWORD>(status)) || Failed("RegDeleteKeyA", static_cast<DWORD>(status), key_path);
}

}  // namespace

bool InstallUndo::CaptureDriverService() {
  if (driver_captured_) return true;
  driver_captured_ = SaveService(kDriverServiceName, &driver_);
  return driver_captured_;
}

bool InstallUndo::CaptureVersionKey() {
  if (keys_captured_) return true;
  ScopedKey component;
  const KeyPresence component_presence = OpenIfPresent(kKotaComponentKey, &component);
  if (component_presence == KeyPresence::Unknown) return false;
  component.Close();
  component_key_present_ = component_presence == KeyPresence::Present;
  version_key_present_ = false;
  version_ = SavedValue();
  uninstaller_ = SavedValue();
  if (component_key_present_) {
    ScopedKey version;
    const KeyPresence version_presence = OpenIfPresent(kKotaVersionKey, &version);
    if (version_presence == KeyPresence::Unknown) return false;
    version_key_present_ = version_presence == KeyPresence::Present;
    if (version_key_present_ && (!SaveValue(version.Get(), "Version", kKotaVersionKey, &version_) ||
                                 !SaveValue(version.Get(), "UnInstallImage", kKotaVersionKey, &uninstaller_)))
      return false;
  }
  keys_captured_ = true;
  return true;
}

bool InstallUndo::Mark(bool install, const std::vector<std::string>& places) {
  if (!CaptureVersionKey()) return false;
  if (!marked_ && !component_key_created_ && component_key_present_) {
    // Leftovers go before this run keeps anything: kept beside its own files
    // under the entry it writes, they could pass for originals, or its own
    // originals for leftovers.
    const ChangeMarker read = ReadChangeMarker();
    if (read.KeptLeftovers()) {
      leftovers_gone_ = DeleteKeptAsideFilesOf(places);
      if (!SettleKeptFiles(leftovers_gone_, false)) return false;
    }
  }
  if (!marked_ && !component_key_present_ && !component_key_created_) {
    // The marker lives in the component key: a first install, or one over an
    // older node, makes it now and the roll-back takes it away again.
    char key_class[] = "REG_SZ";
    ScopedKey key;
    DWORD disposition = 0;
    const LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKotaComponentKey, 0, key_class, REG_OPTION_NON_VOLATILE,
                                        KEY_WRITE, nullptr, key.Receive(), &disposition);
    if (status != ERROR_SUCCESS) return Failed("RegCreateKeyExA", static_cast<DWORD>(status), kKotaComponentKey);
    component_key_created_ = disposition == REG_CREATED_NEW_KEY;
    if (component_key_created_) JournalChange("key created", kKotaComponentKey);
  }
  ChangeMarker found;
  const bool written = MarkKeptAside(&found, install);
  if (!written) {
    if (!marked_ && component_key_created_) component_key_created_ = !DeleteKeyIfPresent(kKotaComponentKey);
    return false;
  }
  if (!marked_) marker_before_ = found;
  marked_ = true;
  return true;
}

bool InstallUndo::KeepAside(const std::string& path) {
  for (const KeptFile& kept : kept_)
    if (kept.Path == path) return true;
  const std::string kept_path = KeptAsidePathOf(path);
  // Never cut to another name: a path whose kept-aside name is too long for
  // the tool's buffers is a rename refused.
  if (!FitsTextBuffer(kept_path)) return Failed("MoveFileExA", ERROR_FILENAME_EXCED_RANGE, path.c_str());
  if (MoveFileExA(path.c_str(), kept_path.c_str(), 0)) {
    JournalChange("kept aside", path.c_str());
    kept_.push_back({path, true});
    return true;
  }
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
    if (marker_before_.KeptOriginals()) {
      // An interrupted install kept the original there: it stays the one to put back.
      JournalNote(("adopted the kept-aside original of \"" + path + "\"").c_str());
      kept_.push_back({path, true});
      return true;
    }
    // Nothing accounts for it: an old copy whose deletion was left to a
    // restart. It makes way for the file this run keeps.
    if (!DeleteKeptAsideFile(kept_path)) return false;
    if (MoveFileExA(path.c_str(), kept_path.c_str(), 0)) {
      JournalChange("kept aside", path.c_str());
      kept_.push_back({path, true});
      return true;
    }
    error = GetLastError();
  }
  if (IsAbsence(error)) {
    // No file to keep; an interrupted run may have kept it already.
    const bool kept_before =
        marker_before_.KeptOriginals() && GetFileAttributesA(kept_path.c_str()) != INVALID_FILE_ATTRIBUTES;
    kept_.push_back({path, kept_before});
    return true;
  }
  return Failed("MoveFileExA", error, path.c_str());
}

bool InstallUndo::RestoreFiles() {
  bool restored = true;
  for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
    const char* path = it->Path.c_str();
    // What this run copied there may be read-only like its release file.
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (it->Existed) {
      if (MoveFileExA(KeptAsidePathOf(it->Path).c_str(), path, MOVEFILE_REPLACE_EXISTING))
        JournalChange("put back", path);
      else
        restored = Failed("MoveFileExA", GetLastError(), path);
    } else if (DeleteFileA(path)) {
      JournalChange("deleted", path);
    } else if (!IsAbsence(GetLastError())) {
      restored = Failed("DeleteFileA", GetLastError(), path);
    }
  }
  return restored;
}

bool InstallUndo::RestoreVersionKey() {
  if (!version_key_present_) return DeleteKeyIfPresent(kKotaVersionKey);
  ScopedKey key;
  const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaVersionKey, 0, KEY_SET_VALUE, key.Receive());
  if (status != ERROR_SUCCESS) return Failed("RegOpenKeyExA", static_cast<DWORD>(status), kKotaVersionKey);
  const bool version = RestoreValue(key.Get(), "Version", version_);
  const bool uninstaller = RestoreValue(key.Get(), "UnInstallImage", uninstaller_);
  if (version && uninstaller) JournalChange("version put back", kKotaVersionKey);
  return version && uninstaller;
}

bool InstallUndo::RollBack() {
  attempted_ = true;
  JournalStep(journal_step::kRollBack);
  {
    // Whatever runs from the files about to go back lets go of them first;
    // a driver service this run deleted may still be marked for deletion
    // until it stops. There may be none at all.
    JournalAbsenceExpected absence_expected;
    StopServiceTree(kDriverServiceName, kDriverServiceDisplay, 0);
  }
  bool restored = RestoreFiles();
  restored = RestoreVersionKey() && restored;
  restored = RestoreService(kDriverServiceName, driver_) && restored;
  // Last, and only when all else is back: the key holds the marker that
  // makes the next run finish a roll-back that failed.
  if (restored && component_key_created_) {
    restored = DeleteKeyIfPresent(kKotaComponentKey);
    component_key_deleted_ = restored;
  }
  restored_ = restored;
  return restored;
}

bool InstallUndo::RestoreMarker() {
  if (!marked_ || component_key_deleted_) return true;
  restored_ = UnmarkKeptAside(!marker_before_.Install);
  return restored_;
}

bool InstallUndo::Discard() {
  std::vector<std::string> kept;
  for (const KeptFile& file : kept_)
    if (file.Existed) kept.push_back(file.Path);
  if (kept.empty()) return leftovers_gone_;
  if (!MarkDiscard()) return false;
  return DeleteKeptAsideFilesOf(kept) && leftovers_gone_;
}

#include "component/references.h"

#include <cstring>

#include "component/component_keys.h"
#include "component/component_text.h"
#include "journal/run_journal.h"
#include "platform/handles.h"

namespace {

// Whether the reference already holds exactly this image, as it would be
// written (REG_EXPAND_SZ, the same bytes): then the registration changes
// nothing. Asked only for the journal, before the write, and by the plan.
bool HoldsImage(const std::string& key_path, const char* pre_proc_image) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  char held[kTextBufferSize];
  DWORD type = 0;
  DWORD size = sizeof held;
  if (RegQueryValueExA(key.Get(), "PreProcImage", nullptr, &type, reinterpret_cast<BYTE*>(held), &size) !=
      ERROR_SUCCESS)
    return false;
  // The ANSI query may count a terminator that the stored value lacks.
  const size_t length = strlen(pre_proc_image);
  if (size == length + 1 && held[length] == '\0') size = static_cast<DWORD>(length);
  return type == REG_EXPAND_SZ && size == length && memcmp(held, pre_proc_image, length) == 0;
}

}  // namespace

bool ReferenceHoldsImage(const char* reference_name, const char* pre_proc_image) {
  std::string key_path;
  return FormReferenceKeyPath(reference_name, &key_path) && HoldsImage(key_path, pre_proc_image);
}

Flag RegisterReference(const char* reference_name, const char* pre_proc_image, Flag verbose) {
  // A name too long for its key path is refused whole: a cut path would
  // register (or overwrite) some other reference.
  std::string key_path;
  if (FormReferenceKeyPath(reference_name, &key_path)) {
    const bool unchanged = JournalActive() && ReferenceHoldsImage(reference_name, pre_proc_image);
    char key_class[] = "REG_SZ";
    ScopedKey key;
    DWORD disposition = 0;
    // Creates the component key and the References key with the first
    // reference; an existing reference is simply opened and overwritten.
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, key_class, REG_OPTION_NON_VOLATILE,
                                  KEY_WRITE, nullptr, key.Receive(), &disposition);
    if (status == ERROR_SUCCESS) {
      // Stored unexpanded and without a terminator: %NAME% references are
      // expanded anew at each notification.
      status =
          RegSetValueExA(key.Get(), "PreProcImage", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(pre_proc_image),
                         static_cast<DWORD>(strlen(pre_proc_image)));
      if (status == ERROR_SUCCESS) {
        if (!unchanged) JournalChange("registered", key_path.c_str());
        return 1;
      }
      JournalCallFailed("RegSetValueExA", static_cast<unsigned long>(status), key_path.c_str());
    } else {
      JournalCallFailed("RegCreateKeyExA", static_cast<unsigned long>(status), key_path.c_str());
    }
  }
  Say(verbose, "\tERROR: Could not install referenced component - %s\n", reference_name);
  return 0;
}

Flag DeleteReference(const char* reference_name, Flag verbose) {
  std::string key_path;
  if (FormReferenceKeyPath(reference_name, &key_path)) {
    const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path.c_str());
    if (status == ERROR_SUCCESS) {
      JournalChange("unregistered", key_path.c_str());
      return 1;
    }
    JournalCallFailed("RegDeleteKeyA", static_cast<unsigned long>(status), key_path.c_str());
  }
  Say(verbose, "\tERROR: Could not delete referenced component - %s\n", reference_name);
  return 0;
}

// The notifications delete nothing while they walk, so the index moves on by
// one whatever became of a reference.
bool WalkReferences(const std::function<void(HKEY reference_key, const char* name)>& visit) {
  ScopedKey references;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaReferencesKey, 0, KEY_READ, references.Receive());
  // No References key: nobody to tell, which is a walk that reached its end.
  if (status != ERROR_SUCCESS) {
    if (status == ERROR_FILE_NOT_FOUND) return true;
    JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(status), kKotaReferencesKey);
    return false;
  }
  for (DWORD index = 0;; ++index) {
    char name[kTextBufferSize];
    DWORD name_size = sizeof name;
    status = RegEnumKeyExA(references.Get(), index, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS) {
      JournalCallFailed("RegEnumKeyExA", static_cast<unsigned long>(status), kKotaReferencesKey);
      return false;
    }
    ScopedKey reference;
    status = RegOpenKeyExA(references.Get(), name, 0, KEY_READ, reference.Receive());
    if (status != ERROR_SUCCESS) {
      JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(status), name);
      continue;
    }
    visit(reference.Get(), name);
  }
}

#include "component/references.h"

#include <cstring>

#include "component/component_text.h"
#include "platform/handles.h"

Flag RegisterReference(const char* reference_name, const char* pre_proc_image, Flag verbose) {
  // A name too long for its key path is refused whole: a cut path would
  // register (or overwrite) some other reference.
  std::string key_path;
  if (FormReferenceKeyPath(reference_name, &key_path)) {
    char key_class[] = "REG_SZ";
    ScopedKey key;
    DWORD disposition = 0;
    // Creates the component key and the References key with the first
    // reference; an existing reference is simply opened and overwritten.
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, key_class, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, key.Receive(), &disposition) == ERROR_SUCCESS) {
      // Stored unexpanded and without a terminator: %NAME% references are
      // expanded anew at each notification.
      if (RegSetValueExA(key.Get(), "PreProcImage", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(pre_proc_image),
                         static_cast<DWORD>(strlen(pre_proc_image))) == ERROR_SUCCESS) {
        return 1;
      }
    }
  }
  if (verbose) ConsolePrint("\tERROR: Could not install referenced component - %s\n", reference_name);
  return 0;
}

Flag DeleteReference(const char* reference_name, Flag verbose) {
  std::string key_path;
  if (FormReferenceKeyPath(reference_name, &key_path) &&
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path.c_str()) == ERROR_SUCCESS) {
    return 1;
  }
  if (verbose) ConsolePrint("\tERROR: Could not delete referenced component - %s\n", reference_name);
  return 0;
}

#include "component/change_marker.h"

#include <cstring>

#include "component/component_keys.h"
#include "platform/handles.h"
#include "platform/registry_access.h"

namespace {

constexpr char kInstall[] = "Install";
constexpr char kRemove[] = "Remove";

}  // namespace

ChangeMarker ReadChangeMarker() {
  char text[16];
  if (!ReadRegistryText(KOTA_COMPONENT_KEY, KOTA_CHANGE_MARKER_VALUE, KEY_READ, text, sizeof text))
    return ChangeMarker::None;
  if (std::strcmp(text, kInstall) == 0) return ChangeMarker::Install;
  if (std::strcmp(text, kRemove) == 0) return ChangeMarker::Remove;
  return ChangeMarker::None;
}

bool WriteChangeMarker(ChangeMarker kind) {
  if (kind == ChangeMarker::None) return false;
  const char* text = kind == ChangeMarker::Install ? kInstall : kRemove;
  // Never creates the component key: where there is none, nothing has been
  // installed that a run could leave half-done.
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_COMPONENT_KEY, 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) return false;
  return RegSetValueExA(key.Get(), KOTA_CHANGE_MARKER_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text))) == ERROR_SUCCESS;
}

void ClearChangeMarker() {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KOTA_COMPONENT_KEY, 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) return;
  RegDeleteValueA(key.Get(), KOTA_CHANGE_MARKER_VALUE);
}

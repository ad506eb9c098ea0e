#include "component/change_marker.h"

#include "component/component_keys.h"
#include "component/component_text.h"
#include "platform/handles.h"
#include "platform/registry_access.h"

namespace {

const std::string kInstall = "Install";
const std::string kRemove = "Remove ";

}  // namespace

ChangeMarker ReadChangeMarker() {
  char text[kTextBufferSize];
  ChangeMarker marker;
  if (!ReadRegistryText(kKotaComponentKey, kChangeMarkerValue, KEY_READ, text, sizeof text)) return marker;
  const std::string value = text;
  if (value == kInstall) {
    marker.Kind = ChangeKind::Install;
  } else if (value.rfind(kRemove, 0) == 0) {
    marker.Kind = ChangeKind::Remove;
    marker.Reference = value.substr(kRemove.size());
  }
  return marker;
}

bool WriteChangeMarker(ChangeKind kind, const char* reference_name) {
  if (kind == ChangeKind::None) return false;
  const std::string text = kind == ChangeKind::Install ? kInstall : kRemove + reference_name;
  // Where there is no component key, nothing has been installed that a run
  // could leave half-done.
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaComponentKey, 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) return false;
  return RegSetValueExA(key.Get(), kChangeMarkerValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size())) == ERROR_SUCCESS;
}

void ClearChangeMarker() {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaComponentKey, 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) return;
  RegDeleteValueA(key.Get(), kChangeMarkerValue);
}

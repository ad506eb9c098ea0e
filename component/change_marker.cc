#include "component/change_marker.h"

#include <algorithm>
#include <functional>

#include "component/component_keys.h"
#include "platform/handles.h"

namespace {

constexpr char kInstall[] = "Install";
constexpr char kKeptAside[] = "KeptAside";
constexpr char kDiscard[] = "Discard";
constexpr char kRemove[] = "Remove ";
constexpr char kSeparator = '\\';

// The whole value, however long the list of entries has grown. false when
// there is none (or it cannot be read).
bool QueryMarkerText(HKEY key, std::string* text) {
  std::string buffer(512, '\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    const LONG status =
        RegQueryValueExA(key, kChangeMarkerValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()), &size);
    if (status == ERROR_MORE_DATA && size > buffer.size()) {
      buffer.resize(size);
      continue;
    }
    if (status != ERROR_SUCCESS) return false;
    buffer.resize(std::min<size_t>(size, buffer.size()));
    // A terminator stored with the text (as regedit stores strings) ends it.
    *text = buffer.substr(0, buffer.find('\0'));
    return true;
  }
}

// Reads the marker, lets change() edit it, and writes it back only when
// it changed: an empty marker is no value at all. found, when given, learns
// the marker as it was read.
bool UpdateChangeMarker(const std::function<void(ChangeMarker*)>& change, ChangeMarker* found = nullptr) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaComponentKey, 0, KEY_READ | KEY_WRITE, key.Receive()) != ERROR_SUCCESS)
    return false;
  std::string before;
  const bool present = QueryMarkerText(key.Get(), &before);
  ChangeMarker marker = ParseChangeMarker(before);
  if (found) *found = marker;
  change(&marker);
  const std::string after = ChangeMarkerText(marker);
  if (present && after == before) return true;
  if (marker.Empty()) return !present || RegDeleteValueA(key.Get(), kChangeMarkerValue) == ERROR_SUCCESS;
  return RegSetValueExA(key.Get(), kChangeMarkerValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(after.data()),
                        static_cast<DWORD>(after.size())) == ERROR_SUCCESS;
}

}  // namespace

bool ChangeMarker::HasRemovalOf(const std::string& reference_name) const {
  return std::find(Removals.begin(), Removals.end(), reference_name) != Removals.end();
}

std::string ChangeMarkerText(const ChangeMarker& marker) {
  std::string text = marker.Install ? kInstall : "";
  if (marker.KeptAside) {
    if (!text.empty()) text += kSeparator;
    text += kKeptAside;
  }
  if (marker.Discard) {
    if (!text.empty()) text += kSeparator;
    text += kDiscard;
  }
  for (const std::string& name : marker.Removals) {
    if (!text.empty()) text += kSeparator;
    text += kRemove + name;
  }
  return text;
}

ChangeMarker ParseChangeMarker(const std::string& text) {
  ChangeMarker marker;
  const std::string remove = kRemove;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(kSeparator, begin);
    if (end == std::string::npos) end = text.size();
    const std::string entry = text.substr(begin, end - begin);
    if (entry == kInstall) {
      marker.Install = true;
    } else if (entry == kKeptAside) {
      marker.KeptAside = true;
    } else if (entry == kDiscard) {
      marker.Discard = true;
    } else if (entry.rfind(remove, 0) == 0 && entry.size() > remove.size() &&
               !marker.HasRemovalOf(entry.substr(remove.size()))) {
      marker.Removals.push_back(entry.substr(remove.size()));
    }
    begin = end + 1;
  }
  return marker;
}

ChangeMarker ReadChangeMarker() {
  ScopedKey key;
  std::string text;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaComponentKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS ||
      !QueryMarkerText(key.Get(), &text))
    return ChangeMarker();
  return ParseChangeMarker(text);
}

// Where there is no component key, nothing has been installed that a run
// could leave half-done.
bool MarkInstall(ChangeMarker* found) {
  return UpdateChangeMarker([](ChangeMarker* marker) { marker->Install = true; }, found);
}

void UnmarkInstall() {
  UpdateChangeMarker([](ChangeMarker* marker) { marker->Install = false; });
}

bool MarkKeptAside(ChangeMarker* found, bool install_too) {
  return UpdateChangeMarker(
      [install_too](ChangeMarker* marker) {
        marker->KeptAside = true;
        if (install_too) marker->Install = true;
      },
      found);
}

bool UnmarkKeptAside(bool install_too) {
  return UpdateChangeMarker([install_too](ChangeMarker* marker) {
    marker->KeptAside = false;
    if (install_too) marker->Install = false;
  });
}

bool MarkDiscard() {
  const auto discard = [](ChangeMarker* marker) {
    marker->KeptAside = false;
    marker->Discard = true;
  };
  return UpdateChangeMarker(discard) || UpdateChangeMarker(discard);
}

bool SettleKeptFiles(bool all_gone, bool install_too) {
  return UpdateChangeMarker([all_gone, install_too](ChangeMarker* marker) {
    marker->KeptAside = false;
    marker->Discard = !all_gone;
    if (install_too) marker->Install = false;
  });
}

bool MarkRemoval(const char* reference_name) {
  return UpdateChangeMarker([reference_name](ChangeMarker* marker) {
    if (!marker->HasRemovalOf(reference_name)) marker->Removals.push_back(reference_name);
  });
}

void UnmarkRemoval(const char* reference_name) {
  UpdateChangeMarker(
      [reference_name](ChangeMarker* marker) { std::erase(marker->Removals, std::string(reference_name)); });
}

void ClearChangeMarker() {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKotaComponentKey, 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) return;
  RegDeleteValueA(key.Get(), kChangeMarkerValue);
}

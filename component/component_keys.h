// The component's registry keys and values, all below HKEY_LOCAL_MACHINE.
#pragma once

#include <string_view>

inline constexpr char kKotaComponentKey[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA";
inline constexpr char kKotaVersionKey[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion";
inline constexpr char kKotaReferencesKey[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References";
inline constexpr char kKotaReferenceKeyFormat[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\%s";
// A value of the component key that is there only while an install or a
// removal is under way ("Install" or "Remove"); only this tool reads it.
inline constexpr char kChangeMarkerValue[] = "ChangeInProgress";

// The legacy reference, kept for an older node's own use of the component.
inline constexpr char kLegacyReferenceName[] = "BROMVELD";
inline constexpr char kLegacyPreProcImage[] = "%SystemRoot%\\mevrid.exe -o";

namespace component_keys_detail {
constexpr bool IsBelow(std::string_view key, std::string_view parent, std::string_view tail) {
  return key.size() == parent.size() + tail.size() && key.substr(0, parent.size()) == parent &&
         key.substr(parent.size()) == tail;
}
}  // namespace component_keys_detail

// The keys are written out in full; each must stay below the one it names.
static_assert(component_keys_detail::IsBelow(kKotaVersionKey, kKotaComponentKey, "\\CurrentVersion"));
static_assert(component_keys_detail::IsBelow(kKotaReferencesKey, kKotaComponentKey, "\\References"));
static_assert(component_keys_detail::IsBelow(kKotaReferenceKeyFormat, kKotaReferencesKey, "\\%s"));

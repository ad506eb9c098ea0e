// The component's driver service: its name in the Service Control Manager,
// the display text every line about it shows, and the registry key of its
// configuration. A leaf: both the component's install and removal and the
// older node's service sequences name it.
#pragma once

#include <string_view>

inline constexpr char kDriverServiceName[] = "vtrin";
inline constexpr char kDriverServiceDisplay[] = "Kelm Embedded System Management Driver";

// The driver service's configuration key, written out in full; only what
// looks without acting reads it (the plan's facts, the state report).
inline constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
inline constexpr char kDriverServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\vtrin";
static_assert(std::string_view(kDriverServiceKey).size() == sizeof kServicesKey - 1 + sizeof kDriverServiceName - 1 &&
              std::string_view(kDriverServiceKey).starts_with(kServicesKey) &&
              std::string_view(kDriverServiceKey).ends_with(kDriverServiceName));

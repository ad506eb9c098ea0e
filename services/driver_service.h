// The component's driver service: its name in the Service Control Manager and
// the display text every line about it shows. A leaf: both the component's
// install and removal and the older node's service sequences name it.
#pragma once

inline constexpr char kDriverServiceName[] = "vtrin";
inline constexpr char kDriverServiceDisplay[] = "Kelm Embedded System Management Driver";

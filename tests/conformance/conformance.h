// Shared by the conformance tests of the platform seam. One source runs
// against the POSIX emulation and, built with MinGW, against real Win32 under
// Wine, so each expectation is what Windows answers. Two marks cover the
// cases where a platform knowingly answers otherwise:
//
//   WINE_DIVERGENCE_EQ(windows, wine, actual)
//     Wine answers `wine` where Windows answers `windows`. Under Wine the
//     test expects Wine's answer and fails as soon as Wine answers like
//     Windows, so the mark goes once Wine is fixed. Everywhere else (Windows,
//     the emulation) it expects `windows`.
//
//   EMULATION_CHOICE(windows, emulation)
//     The expected value where the emulation deliberately keeps the tool's
//     data model instead of a Windows quirk: `windows` on real Win32, Wine
//     included, `emulation` on POSIX. Say why beside every use.
#pragma once

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace conformance {

#ifdef _WIN32
constexpr bool kRealWin32 = true;
#else
constexpr bool kRealWin32 = false;
#endif

// Wine exports wine_get_version from its ntdll; Windows does not.
inline bool UnderWine() {
#ifdef _WIN32
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
#else
  return false;
#endif
}

}  // namespace conformance

#define WINE_DIVERGENCE_EQ(windows_value, wine_value, actual)                                             \
  do {                                                                                                     \
    const auto conformance_actual = (actual);                                                              \
    if (::conformance::UnderWine()) {                                                                      \
      EXPECT_NE(conformance_actual, (windows_value))                                                       \
          << "Wine now answers as Windows does: remove this WINE_DIVERGENCE mark";                          \
      EXPECT_EQ(conformance_actual, (wine_value)) << "Wine's known divergence from Windows has changed";   \
    } else {                                                                                               \
      EXPECT_EQ(conformance_actual, (windows_value));                                                      \
    }                                                                                                      \
  } while (0)

#define EMULATION_CHOICE(windows_value, emulation_value) \
  (::conformance::kRealWin32 ? (windows_value) : (emulation_value))

// The environment as the logic uses it: the Windows directory, and texts
// with environment references expanded, never cut to fit.
#pragma once

#include "platform/platform.h"

// The Windows directory from "SystemRoot"; nullptr when not set (or empty).
const char* LookupWindowsDirectory();
// ExpandEnvironmentStringsA into a 260-character buffer. false when the
// expansion fails or does not fit: a cut text is never handed on. too_long,
// when given, learns whether it was the fit that failed.
bool ExpandText(const char* source, char* destination, bool* too_long = nullptr);

// Texts of the component installer: paths, key paths and command lines are
// formed in full and then held to the tool's 260-character buffers, so a text
// that would not fit is refused as a whole instead of being cut and used.
#pragma once

#include <cstring>
#include <string>

#include "platform/platform.h"

// The text that a printf format gives, however long.
std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// true when a text of that length fits a 260-character buffer with its
// terminator (at most 259 characters).
inline bool FitsTextBuffer(size_t length) { return length < static_cast<size_t>(kTextBufferSize); }
inline bool FitsTextBuffer(const std::string& text) { return FitsTextBuffer(text.size()); }
inline bool FitsTextBuffer(const char* text) { return FitsTextBuffer(strlen(text)); }

// The reference's key path below HKEY_LOCAL_MACHINE. false when the name is
// so long (over 204 characters) that the path would not fit.
bool FormReferenceKeyPath(const char* reference_name, std::string* key_path);

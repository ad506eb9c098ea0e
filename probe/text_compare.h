// Case-insensitive text comparison as the C runtime's stricmp does it in the
// "C" locale: ASCII letters only, so the answer does not follow whatever
// locale the probe has set for the process.
#pragma once

inline bool EqualsIgnoringCase(const char* a, const char* b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

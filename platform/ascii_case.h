// Case folding of ASCII letters only, as the C runtime's stricmp does it in
// the "C" locale: the answer never follows the locale the probe sets for the
// process, and a byte of 0x80 or above is never folded. Names the tool
// compares (options, registry keys, services, installed products) are
// matched so.
#pragma once

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  return *a == *b;
}

// Upper-cases the terminated text in place.
constexpr void UpperAsciiInPlace(char* text) {
  for (; *text != '\0'; ++text) *text = AsciiUpper(*text);
}

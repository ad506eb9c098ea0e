// JSON texts for the status program's --json output: strings quoted and
// escaped, lists of strings, and the null of an absent value.
#pragma once

#include <string>
#include <vector>

// The text as a JSON string. Registry texts are bytes of the ANSI code page,
// not UTF-8: a byte above 127 is written as the code point of the same value
// (Latin-1), so the document is valid JSON whatever the machine stored.
std::string JsonString(const std::string& text);
// A JSON string, or null when the value is absent.
std::string JsonStringOrNull(bool present, const std::string& text);
std::string JsonStringList(const std::vector<std::string>& texts);
inline const char* JsonBool(bool value) { return value ? "true" : "false"; }

// JSON texts for the status program's --json output: lists of strings and
// the null of an absent value, over the strings of util/json_string.h.
#pragma once

#include <string>
#include <vector>

#include "util/json_string.h"

// A JSON string, or null when the value is absent.
std::string JsonStringOrNull(bool present, const std::string& text);
std::string JsonStringList(const std::vector<std::string>& texts);
inline const char* JsonBool(bool value) { return value ? "true" : "false"; }

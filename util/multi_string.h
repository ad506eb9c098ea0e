// The strings of a REG_MULTI_SZ value, as the registry stores them: each
// ends with a NUL, and an empty string ends the list.
#pragma once

#include <string>
#include <vector>

// Every string of NUL-separated data, empty ones included; the last one
// needs no terminator ("a\0\0b" is "a", "", "b"). For values that hold
// pairs, where an empty string is an item and not the end.
std::vector<std::string> SplitAtNul(const std::string& data);
// The list: the strings up to the first empty one or the end of the data.
std::vector<std::string> MultiStringItems(const std::string& data);
// The list of a terminated block in memory ("a\0b\0\0"); none for null.
std::vector<std::string> MultiStringItems(const char* list);

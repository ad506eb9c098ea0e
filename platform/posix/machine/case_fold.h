// Case folding, as the registry, the services and the file system compare
// names: a valid UTF-8 name by Unicode's simple upper case (Latin, Greek,
// Cyrillic), any other as code page 1252 bytes.
#pragma once

#include <string>

namespace emu {

std::string Upper(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace emu

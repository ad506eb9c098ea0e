// The machine's settings: key/value text in its database (the clock, the
// Windows directory, the user's locale, call counting).
#pragma once

#include <string>

namespace emu {

std::string GetSetting(const std::string& name, const std::string& fallback = "");
bool SetSetting(const std::string& name, const std::string& value);

}  // namespace emu

// Lines of .reg texts as the tests import them.
#pragma once

#include <string>

namespace testsupport {

// A .reg string line; backslashes and quotes in the data are escaped as
// regedit writes them.
inline std::string RegString(const std::string& name, const std::string& data) {
  std::string escaped;
  for (char c : data) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return "\"" + name + "\"=\"" + escaped + "\"\n";
}

}  // namespace testsupport

// The non-empty parts of a text between separators, as the registry reads a
// key's path and the files a host path: "SOFTWARE\\Kelm\\" and "/a//b" have two
// parts each.
#pragma once

#include <string>
#include <vector>

namespace emu {

inline std::vector<std::string> SplitNonEmpty(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace emu

#include "util/multi_string.h"

#include <cstring>

std::vector<std::string> SplitAtNul(const std::string& data) {
  std::vector<std::string> strings;
  for (size_t start = 0; start < data.size();) {
    size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    strings.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return strings;
}

std::vector<std::string> MultiStringItems(const std::string& data) {
  std::vector<std::string> items = SplitAtNul(data);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].empty()) {
      items.resize(i);
      break;
    }
  }
  return items;
}

std::vector<std::string> MultiStringItems(const char* list) {
  if (!list) return {};
  // The block ends at its empty string; the strings are read from its extent.
  const char* end = list;
  while (*end) end += strlen(end) + 1;
  return MultiStringItems(std::string(list, end));
}

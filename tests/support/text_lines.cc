#include "tests/support/text_lines.h"

namespace testsupport {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text) { return Split(text, '\n'); }

std::vector<std::string> SplitMultiString(const std::string& bytes) { return Split(bytes, '\0'); }

std::vector<std::pair<std::string, std::string>> PendingRenamePairs(const std::string& bytes) {
  std::vector<std::string> strings = SplitMultiString(bytes);
  std::vector<std::pair<std::string, std::string>> pairs;
  // A REG_MULTI_SZ ends with an empty string; pairs are (source, target).
  for (size_t i = 0; i + 1 < strings.size(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
  return pairs;
}

}  // namespace testsupport

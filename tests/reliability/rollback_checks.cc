#include "tests/reliability/rollback_checks.h"

#include "tests/support/text_lines.h"

namespace reliability {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool AllAs(const EndState& state, const EndState& other) {
  for (const char* path : kComponentFilePaths)
    if (FileEntry(state, path) != FileEntry(other, path)) return false;
  return true;
}

std::vector<std::string> ComponentSetProblems(const EndState& state, const EndState& before, const EndState& after) {
  std::vector<std::string> problems;
  if (!AllAs(state, before) && !AllAs(state, after)) {
    std::string which;
    for (const char* path : kComponentFilePaths) {
      const std::string entry = FileEntry(state, path);
      which += std::string(which.empty() ? " " : ", ") + path +
               (entry == FileEntry(after, path)    ? " new"
                : entry == FileEntry(before, path) ? " old"
                : entry.empty()                    ? " missing"
                                                   : " neither old nor new");
    }
    problems.push_back("a mixed set of component files:" + which);
  }
  for (const std::string& path : FilePaths(state))
    if (EndsWith(path, kKeptAsideSuffix)) problems.push_back("a kept-aside file left: " + path);
  return problems;
}

std::vector<std::string> OldFilesLost(const EndState& state, const EndState& before, const EndState& after) {
  std::vector<std::string> lost;
  if (AllAs(state, after)) return lost;
  for (const char* path : kComponentFilePaths) {
    const std::string old = FileEntry(before, path);
    if (old.empty() || FileEntry(state, path) == old || FileEntry(state, path + std::string(kKeptAsideSuffix)) == old)
      continue;
    lost.push_back(std::string("the old ") + path + " (" + old + ") is gone, the new set not whole");
  }
  return lost;
}

EndState ComponentPart(const EndState& state, const EndState& before) {
  const std::string driver_ran = "vtrin running ";
  const bool keep_driver_state =
      before.services.rfind(driver_ran, 0) == 0 || before.services.find("\n" + driver_ran) != std::string::npos;
  EndState part = state;
  part.component_keys.clear();
  bool references = false;
  for (const std::string& line : testsupport::SplitLines(state.component_keys)) {
    if (line.rfind("[", 0) == 0)
      references = line.find(std::string(kReferencesKey) + "]") != std::string::npos ||
                   line.find(std::string(kReferencesKey) + "\\") != std::string::npos;
    if (!references && line.rfind("\"ChangeInProgress\"=", 0) != 0) part.component_keys += line + "\n";
  }
  part.files.clear();
  for (const char* path : kComponentFilePaths) part.files += std::string(path) + ": " + FileEntry(state, path) + "\n";
  for (const std::string& path : FilePaths(state))
    if (EndsWith(path, kKeptAsideSuffix)) part.files += path + "\n";
  part.services.clear();
  for (const std::string& line : testsupport::SplitLines(state.services)) {
    if (keep_driver_state && line.rfind("vtrin ", 0) == 0) {
      part.services += line + "\n";
      continue;
    }
    // "name state[ marked] type=...": the name may hold blanks.
    const size_t definition = line.find(" type=");
    std::string head = line.substr(0, definition);
    const bool marked = EndsWith(head, " marked");
    if (marked) head.resize(head.size() - 7);
    part.services += head.substr(0, head.rfind(' ')) + (marked ? " marked" : "") + line.substr(definition) + "\n";
  }
  return part;
}

std::vector<std::string> ProductsCutOff(const std::string& record) {
  const std::vector<std::string> lines = testsupport::SplitLines(record);
  auto told = [&lines](size_t i, const std::string& what) {
    const size_t blank = lines[i].find(' ');
    return blank != std::string::npos && lines[i].compare(blank + 1, what.size(), what) == 0;
  };
  std::vector<std::string> cut_off;
  size_t last_begin = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!told(i, "-e")) continue;
    const std::string product = lines[i].substr(0, lines[i].find(' '));
    size_t begin = i + 1;
    while (begin < lines.size() && !(told(begin, "-b") && lines[begin].rfind(product + " ", 0) == 0)) ++begin;
    if (begin == lines.size())
      cut_off.push_back(product + " told \"-e\" (record line " + std::to_string(i + 1) + ") and never \"-b\" after it");
    else if (begin < last_begin)
      cut_off.push_back(product + " told \"-b\" before a product told \"-e\" ahead of it");
    else
      last_begin = begin;
  }
  return cut_off;
}

}  // namespace reliability

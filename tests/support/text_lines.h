// Splitting texts the tests read back: output and files into lines, and the
// pending file renames of the Session Manager into their pairs.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// The lines of a text, without their line feeds; a last line feed ends the
// last line and starts no empty one.
std::vector<std::string> SplitLines(const std::string& text);

// The strings of a REG_MULTI_SZ value's bytes, up to its closing empty string.
std::vector<std::string> SplitMultiString(const std::string& bytes);

// "PendingFileRenameOperations" as (source, target) pairs, in their order;
// the sources keep their "\??\" and a deletion's target is empty.
std::vector<std::pair<std::string, std::string>> PendingRenamePairs(const std::string& bytes);

}  // namespace testsupport

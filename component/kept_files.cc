#include "component/kept_files.h"

#include "journal/run_journal.h"
#include "platform/platform.h"

namespace {

constexpr char kKeptSuffix[] = ".mevrid-kept";

}  // namespace

std::string KeptAsidePathOf(const std::string& path) { return path + kKeptSuffix; }

bool DeleteKeptAsideFile(const std::string& kept_path) {
  // A read-only original keeps its attribute when renamed: clear it, or the
  // deletion is refused.
  SetFileAttributesA(kept_path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(kept_path.c_str())) {
    JournalChange("deleted", kept_path.c_str());
    return true;
  }
  const DWORD refused = GetLastError();
  if (refused == ERROR_FILE_NOT_FOUND || refused == ERROR_PATH_NOT_FOUND) return true;
  JournalCallFailed("DeleteFileA", refused, kept_path.c_str());
  if (MoveFileExA(kept_path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    JournalFileSetAside(kept_path.c_str(), kept_path.c_str());
    return true;
  }
  JournalCallFailed("MoveFileExA", GetLastError(), kept_path.c_str());
  return false;
}

#include "component/kept_files.h"

#include "component/component_files.h"
#include "journal/run_journal.h"
#include "platform/platform.h"

namespace {

constexpr char kKeptSuffix[] = ".mevrid-kept";

}  // namespace

std::string KeptAsidePathOf(const std::string& path) { return path + kKeptSuffix; }

std::vector<std::string> InstalledFilePaths(const char* windows_directory) {
  std::vector<std::string> paths;
  for (ComponentRole role : kCopyOrder)
    paths.push_back(InstalledPathOf(role, windows_directory));
  return paths;
}

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
  if (MoveFileExA(kept_path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    JournalFileSetAside(kept_path.c_str(), kept_path.c_str());
  else
    JournalCallFailed("MoveFileExA", GetLastError(), kept_path.c_str());
  return false;
}

bool DeleteKeptAsideFilesOf(const std::vector<std::string>& paths) {
  bool all_gone = true;
  for (const std::string& path : paths) all_gone = DeleteKeptAsideFile(KeptAsidePathOf(path)) && all_gone;
  return all_gone;
}

bool DeleteKeptLeftovers(const ChangeMarker& marker, const std::vector<std::string>& paths) {
  if (!marker.KeptLeftovers()) return true;
  return SettleKeptFiles(DeleteKeptAsideFilesOf(paths), false);
}

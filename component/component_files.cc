#include "component/component_files.h"

#include <cstring>

#include "component/component_text.h"
#include "journal/run_journal.h"
#include "platform/handles.h"

const ComponentFile kComponentFiles[3] = {
    {ComponentRole::Library, "qelmot32.dll", "nt_node\\%s", "%s\\system32\\%s"},
    {ComponentRole::Driver, "vtrin.sys", "nt_node\\%s", "%s\\system32\\drivers\\%s"},
    {ComponentRole::Tool, "mevrid.exe", "%s", "%s\\%s"},
};

const ComponentFile& ComponentFileOf(ComponentRole role) {
  for (const ComponentFile& file : kComponentFiles)
    if (file.Role == role) return file;
  return kComponentFiles[0];
}

std::string InstalledPathOf(ComponentRole role, const char* windows_directory) {
  const ComponentFile& file = ComponentFileOf(role);
  return FormatText(file.InstalledPathFormat, windows_directory, file.FileName);
}

namespace {

// Opened for reading only, sharing reads, so a file in use can still be
// looked at. A path too long for the tool's buffers is a file that cannot be
// opened: it is never cut to a shorter name that might exist.
HANDLE OpenForTime(const char* path) {
  if (!FitsTextBuffer(path)) return INVALID_HANDLE_VALUE;
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Why a file could be neither deleted nor renamed, in Win32 terms: absent,
// or there and refused.
void NoteFailedDeletion(const char* path) {
  if (!JournalActive()) return;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
    JournalCallFailed("DeleteFileA", GetLastError(), path);
  else
    JournalCallFailed("DeleteFileA", ERROR_ACCESS_DENIED, path);
}

}  // namespace

bool IsInstalledFileOlder(const char* installed_path, const char* release_path) {
  ScopedFile installed(OpenForTime(installed_path));
  if (!installed) return true;
  ScopedFile release(OpenForTime(release_path));
  if (!release) return false;
  FILETIME installed_time{}, release_time{};
  if (!GetFileTime(installed.Get(), nullptr, nullptr, &installed_time)) return true;
  if (!GetFileTime(release.Get(), nullptr, nullptr, &release_time)) return false;
  // Both handles go before the comparison: nothing else needs them.
  installed.Close();
  release.Close();
  return CompareFileTime(&installed_time, &release_time) < 0;
}

Flag CopyComponentFile(const char* source_path, const char* target_path, Flag verbose) {
  if (FitsTextBuffer(source_path) && FitsTextBuffer(target_path)) {
    // A read-only installed copy must not stop its own replacement; a target
    // that does not exist yet simply has nothing to clear.
    PlatformMakeWritable(target_path);
    if (CopyFileA(source_path, target_path, FALSE)) {
      JournalChange("copied", target_path);
      return 1;
    }
    JournalCallFailed("CopyFileA", GetLastError(), target_path);
  } else {
    JournalCallFailed("CopyFileA", ERROR_FILENAME_EXCED_RANGE, target_path);
  }
  Say(verbose, "\tERROR: Could not copy to (%s)\n", target_path);
  return 0;
}

Flag DeleteComponentFile(const char* path, Flag verbose) {
  if (FitsTextBuffer(path)) {
    PlatformMakeWritable(path);
    if (PlatformRemove(path) == 0) {
      JournalChange("deleted", path);
      return 1;
    }
    // Why the deletion was refused (in use, access denied), kept before any
    // other call replaces it: a file set aside is still a refused deletion,
    // and it is what makes the restart needed.
    const DWORD refused = GetLastError();
    // A file in use (a running driver's image, the running uninstaller) can
    // still be renamed: it is moved out of the way to a fresh name in the
    // root of the current drive and deleted at the next restart. The name is
    // copied out of the runtime's buffer before anything else can reuse it.
    if (const char* temporary = PlatformTmpnam()) {
      char moved[kTextBufferSize];
      if (FitsTextBuffer(temporary)) {
        strcpy(moved, temporary);
        // Should the scheduling fail, the file stays under its new name:
        // nothing is rolled back.
        if (PlatformRename(path, moved) == 0) {
          JournalCallFailed("DeleteFileA", refused, path);
          if (MoveFileExA(moved, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            JournalChange("moved out of the way", path);
            JournalFileSetAside(path, moved);
            return 1;
          }
          JournalCallFailed("MoveFileExA", GetLastError(), moved);
          JournalChange("moved out of the way", path);
        } else {
          NoteFailedDeletion(path);
        }
      }
    }
  } else {
    JournalCallFailed("DeleteFileA", ERROR_FILENAME_EXCED_RANGE, path);
  }
  ReportUndeletedFile(path, verbose);
  return 0;
}

void ReportUndeletedFile(const char* path, Flag verbose) { Say(verbose, "\tERROR: Could not delete (%s)\n", path); }

// The paths are formed in full and never cut to fit the tool's buffers (a
// cut path could name another file): one that is too long is refused by the
// deletion itself, which names the whole path in its error line.
#include "component/older_node_copies.h"

#include <string>
#include <vector>

#include "component/component_files.h"
#include "component/component_text.h"
#include "component/install_undo.h"
#include "component/kept_files.h"

namespace {

void RemoveOldCopy(const std::string& path, Flag verbose, InstallUndo* undo) {
  if (undo == nullptr)
    DeleteComponentFile(path.c_str(), verbose);
  else if (!undo->KeepAside(path))
    ReportUndeletedFile(path.c_str(), verbose);
}

}  // namespace

std::string OlderNodeLibraryPath(bool library_under_program_files, const char* program_files_path,
                                 const char* windows_directory) {
  return library_under_program_files
             ? FormatText("%s\\bin\\%s", program_files_path, ComponentFileOf(ComponentRole::Library).FileName)
             : InstalledPathOf(ComponentRole::Library, windows_directory);
}

// A node registered without a program files path would make the library's
// path "\bin\qelmot32.dll", a file at the root of the current drive that is
// not the node's: that deletion is passed over with the line of a deletion
// that failed.
void DeleteOldComponentCopies(bool library_under_program_files, const char* program_files_path,
                              const char* windows_directory, Flag verbose, InstallUndo* undo) {
  const std::string library =
      OlderNodeLibraryPath(library_under_program_files, program_files_path, windows_directory);
  const std::string driver = InstalledPathOf(ComponentRole::Driver, windows_directory);
  if (library_under_program_files && program_files_path[0] == '\0')
    ReportUndeletedFile(library.c_str(), verbose);
  else
    RemoveOldCopy(library, verbose, undo);
  RemoveOldCopy(driver, verbose, undo);
}

std::vector<std::string> OlderNodeKeptPlaces(bool library_under_program_files, const char* program_files_path,
                                             const char* windows_directory) {
  std::vector<std::string> places = InstalledFilePaths(windows_directory);
  if (library_under_program_files && program_files_path[0] != '\0')
    places.push_back(OlderNodeLibraryPath(true, program_files_path, windows_directory));
  return places;
}

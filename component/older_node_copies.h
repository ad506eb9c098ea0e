// The copies of the driver and the library an older managed node (3.0 to
// 3.4) keeps for itself, deleted before an install over it.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

class InstallUndo;

// The node's own library: program_files_path\bin when
// library_under_program_files, else the Windows system directory's.
std::string OlderNodeLibraryPath(bool library_under_program_files, const char* program_files_path,
                                 const char* windows_directory);

// Deletes the node's driver from the Windows drivers directory and its
// library from program_files_path\bin when library_under_program_files, else
// from the Windows system directory. Each failure has its line when verbose.
// With undo, each copy is kept aside instead, until the install succeeds
// (a refused rename has the line of a refused deletion).
void DeleteOldComponentCopies(bool library_under_program_files, const char* program_files_path,
                              const char* windows_directory, Flag verbose, InstallUndo* undo = nullptr);

// Where a "-g" run may keep files aside: the installed files' paths and, on a
// node that keeps its library under Program Files, that copy's.
std::vector<std::string> OlderNodeKeptPlaces(bool library_under_program_files, const char* program_files_path,
                                             const char* windows_directory);

// An old component file kept aside while an install replaces it: renamed in
// its own folder (never copied, so putting it back needs no space), under
// its own name with ".mevrid-kept" appended.
#pragma once

#include <string>
#include <vector>

#include "component/change_marker.h"

std::string KeptAsidePathOf(const std::string& path);

// The installed files' paths (tool, library, driver), where an install keeps
// old files aside.
std::vector<std::string> InstalledFilePaths(const char* windows_directory);

// Deletes a kept-aside file that is no longer needed. One in use is left
// for the next restart to delete (journaled as set aside). Silent; true when
// the file is gone (or never was there).
bool DeleteKeptAsideFile(const std::string& kept_path);
// The kept-aside files of these paths, each tried; true when every one is gone.
bool DeleteKeptAsideFilesOf(const std::vector<std::string>& paths);

// Kept-aside files that the marker, as this run read it, names with no
// install to put them back ("KeptAside" or "Discard" without "Install") are
// leftovers: deleted, and their entry taken out ("Discard" stays for one left
// to the restart). Makes no call when the marker names none. false when the
// marker could not be written.
bool DeleteKeptLeftovers(const ChangeMarker& marker, const std::vector<std::string>& paths);

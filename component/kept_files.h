// An old component file kept aside while an install replaces it: renamed in
// its own folder (never copied, so putting it back needs no space), under
// its own name with ".mevrid-kept" appended.
#pragma once

#include <string>

std::string KeptAsidePathOf(const std::string& path);

// Deletes a kept-aside file that is no longer needed. One in use is left
// for the next restart to delete (journaled as set aside); one that is not
// there is nothing to do. Silent; false when the file stays for good.
bool DeleteKeptAsideFile(const std::string& kept_path);

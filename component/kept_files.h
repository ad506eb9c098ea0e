// Where an install in the all-or-nothing mode keeps an old component file
// until it is past its point of no return: beside it, in the same folder,
// so keeping it is a rename that needs no space.
#pragma once

#include <string>

// path with ".mevrid-kept" appended.
std::string KeptAsidePathOf(const std::string& path);

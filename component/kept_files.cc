#include "component/kept_files.h"

std::string KeptAsidePathOf(const std::string& path) { return path + ".mevrid-kept"; }

// What the status program needs of the platform beyond the logic's seam: the
// machine opened as it is (never created), and the release directory made
// the current one, as it is for a run of the tool.
#pragma once

#include <string>

// false with a one-line reason when there is no machine to read.
bool OpenExistingMachine(std::string* error);
bool EnterReleaseDirectory(const std::string& directory);

// What the status program needs of the platform beyond the logic's calls:
// the release directory made the current one, as it is for a run of the
// tool. The machine itself is read through platform/machine_reading.h.
#pragma once

#include <string>

bool EnterReleaseDirectory(const std::string& directory);

// The install and remove modes for a validated request that names a
// reference, with the older-node and legacy handling around them. Returns the
// exit status.
#pragma once

#include "cli/run_options.h"

int RunReferenceModes(const RunOptions& options, const char* program_name);

// The install and remove modes for a validated request that names a
// reference, with the older-node and legacy handling around them. Returns the
// exit status.
#pragma once

#include "cli/deployment.h"
#include "cli/run_options.h"

// end, when given, learns how the run ended for the deployment exit codes.
int RunReferenceModes(const RunOptions& options, const char* program_name, RunEnd* end = nullptr);

// The install and remove modes for a validated request that names a
// reference, with the older-node and legacy handling around them. Returns the
// exit status.
#pragma once

#include "cli/deployment.h"
#include "cli/run_options.h"

// What the modes did, as the record's outcome tells it.
struct ReferenceRun {
  RunEnd End = RunEnd::Failure;
  bool Replaced = false;          // an install replaced the component
  bool ComponentRemoval = false;  // a removal found no reference left and removed the component
};

int RunReferenceModes(const RunOptions& options, const char* program_name, ReferenceRun* run = nullptr);

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
  bool RolledBack = false;        // a failed install put the component back as it was
};

// rollback: MEVRID_ROLLBACK=on, an install that fails puts the component back.
int RunReferenceModes(const RunOptions& options, const char* program_name, ReferenceRun* run = nullptr,
                      bool rollback = false);

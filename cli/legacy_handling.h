// The older-node handling around the install and remove modes: the probe and
// the decision before them, the legacy reference and services after the
// install, and the silent drop of the legacy reference after a removal.
#pragma once

#include "cli/run_options.h"
#include "services/legacy_sequences.h"

class InstallUndo;

struct LegacyState {
  Flag OlderNode = 0;
  Flag AddLegacyReference = 0;
  Flag Refused = 0;  // an install on an older node without "-g"
  LegacyRoles Roles;  // the service groups the legacy sequences handle
  // The install's undo (MEVRID_ROLLBACK=on), from before the older node's
  // services stop; nullptr: the preparation and install as they always were.
  InstallUndo* Undo = nullptr;
};

enum class ReferenceMode { Install, Remove, Exit };

// Runs between the "\n\n" of the entry and the choice of mode: probes the
// machine (the one probe of the run, whose profile it hands down), refuses an install on an older node without "-g", or runs the
// legacy preparation. Returns the mode to run, or Exit with *exit_status set.
ReferenceMode DecideReferenceMode(const RunOptions& options, const char* program_name, LegacyState* state,
                                  int* exit_status);
// In the install mode, after the "\n" that follows the install. True when
// the legacy reference's install replaced the component.
bool FinishLegacyInstall(const RunOptions& options, const LegacyState& state);
// In the remove mode, after the caller's removal. True when the legacy
// reference was the last one and the component's removal began.
bool DropLegacyReference(const RunOptions& options, const LegacyState& state);

// The all-or-nothing install, asked for by the deployment: MEVRID_ROLLBACK=on
// (exactly "on"; anything else, or unset, leaves the install as it always
// was). Asked once at start by the tool, and by mevrid-status for its plan.
#pragma once

bool RollbackModeRequested();

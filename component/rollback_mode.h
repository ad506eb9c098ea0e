// Whether the run was asked to be all or nothing: MEVRID_ROLLBACK=on, read
// with the runtime's getenv like the tool's other deployment variables, so
// the tool and mevrid-status answer the same.
#pragma once

// true only for the exact text "on"; anything else, or unset, is off.
bool RollbackModeRequested();

#include "component/rollback_mode.h"

#include <cstdlib>
#include <cstring>

// The runtime's getenv, as for the tool's other deployment variables: the
// name is spelled as documented.
bool RollbackModeRequested() {
  const char* mode = getenv("MEVRID_ROLLBACK");
  return mode != nullptr && strcmp(mode, "on") == 0;
}

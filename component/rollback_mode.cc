#include "component/rollback_mode.h"

#include <cstdlib>
#include <cstring>

bool RollbackModeRequested() {
  const char* mode = getenv("MEVRID_ROLLBACK");
  return mode != nullptr && strcmp(mode, "on") == 0;
}

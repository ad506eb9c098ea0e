// How every emulated call fails: the Win32 error becomes the thread's last
// error, and the call answers its failure value (FALSE unless given).
#pragma once

#include "platform/posix/internal.h"

namespace emu {

template <typename T = BOOL>
T Fail(DWORD error, T result = T()) {
  SetLastErrorCode(error);
  return result;
}

}  // namespace emu

#include "platform/environment_text.h"

const char* LookupWindowsDirectory() {
  const char* directory = PlatformGetEnv("SystemRoot");
  if (directory == nullptr || directory[0] == '\0') return nullptr;
  return directory;
}

bool ExpandText(const char* source, char* destination, bool* too_long) {
  DWORD needed = ExpandEnvironmentStringsA(source, destination, kTextBufferSize);
  if (too_long != nullptr) *too_long = needed > static_cast<DWORD>(kTextBufferSize);
  // The answer counts the terminator; anything over the buffer's size means
  // the text was cut (or not written at all), and a cut path or command must
  // never be run or deleted.
  if (needed == 0 || needed > static_cast<DWORD>(kTextBufferSize)) {
    destination[0] = '\0';
    return false;
  }
  return true;
}

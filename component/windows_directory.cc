#include "component/windows_directory.h"

#include "platform/environment_text.h"

const char* WindowsDirectoryOrSay(Flag verbose) {
  const char* windows_directory = LookupWindowsDirectory();
  if (windows_directory == nullptr) Say(verbose, "\tERROR: Could not determine %%SystemRoot%% directory.\n");
  return windows_directory;
}

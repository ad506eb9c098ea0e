// The Windows directory that the install, the removal and the older-node
// handling work in, or the one line that says it cannot be known.
#pragma once

#include "platform/platform.h"

// The directory "SystemRoot" names; nullptr when it is not set (or empty),
// after "\tERROR: Could not determine %SystemRoot% directory." when verbose.
const char* WindowsDirectoryOrSay(Flag verbose);

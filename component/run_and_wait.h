// Running one pre-processor: its process is started and waited for, a bounded
// time, before the caller goes on.
#pragma once

#include "platform/platform.h"

Flag RunAndWait(const char* command_line, Flag verbose);

#include <cstdio>

#include "platform/platform.h"

void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
}

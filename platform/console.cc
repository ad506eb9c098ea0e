#include <cstdio>

#if !defined(_WIN32)
#include <csignal>
#endif

#include "platform/platform.h"

#if !defined(_WIN32)
namespace {
// On Windows a write to a closed pipe fails and the program goes on; here it
// would raise SIGPIPE and end the run between two steps of an install. The
// signal is ignored from the start, so a failed write is only a failed
// write; the programs the tool starts get the default back (process.cc).
const bool g_broken_pipe_ignored = (signal(SIGPIPE, SIG_IGN), true);
}  // namespace
#endif

namespace {

void ConsolePrintList(const char* format, va_list args) {
  vfprintf(stdout, format, args);
  // A closed output loses what follows; the run itself goes on.
  if (fflush(stdout) != 0) clearerr(stdout);
}

}  // namespace

void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ConsolePrintList(format, args);
  va_end(args);
}

void Say(Flag verbose, const char* format, ...) {
  if (!verbose) return;
  va_list args;
  va_start(args, format);
  ConsolePrintList(format, args);
  va_end(args);
}

#include "component/run_and_wait.h"

#include <cstring>

#include "journal/run_journal.h"
#include "platform/handles.h"

namespace {

// A pre-processor gets two minutes to let go of (or take up) the driver; one
// that has not ended by then is left running and the caller goes on.
constexpr DWORD kPreProcWaitMs = 120000;

}  // namespace

Flag RunAndWait(const char* command_line, Flag verbose) {
  // CreateProcessA may write into its command line, and a longer line than
  // the tool's buffer is never cut to a different command.
  size_t length = strlen(command_line);
  if (length >= static_cast<size_t>(kTextBufferSize)) return 0;
  char command[kTextBufferSize];
  memcpy(command, command_line, length + 1);

  STARTUPINFOA startup{};
  GetStartupInfoA(&startup);
  // Only the show state is asked for: the new console is shown while the
  // tool speaks and hidden under "-q".
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = verbose ? SW_SHOW : SW_HIDE;
  PROCESS_INFORMATION process_info{};
  // No application name: the program is taken from the start of the line,
  // exactly as registered (the tool adds no quotes).
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                      &process_info)) {
    JournalCallFailed("CreateProcessA", GetLastError(), command_line);
    return 0;
  }
  ScopedKernelHandle process(process_info.hProcess);
  ScopedKernelHandle thread(process_info.hThread);
  // Neither the outcome of the wait nor the exit code matters to the run;
  // the journal keeps both.
  const uint64_t wait_began = JournalActive() ? PlatformClockMs() : 0;
  WaitForSingleObject(process.Get(), kPreProcWaitMs);
  if (JournalActive()) {
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.Get(), &exit_code)) exit_code = STILL_ACTIVE;
    JournalPreProcessor(command_line, exit_code, PlatformClockMs() - wait_began);
  }
  process.Close();
  thread.Close();
  return 1;
}

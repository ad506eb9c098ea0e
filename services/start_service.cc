// Starting a service and waiting while it is start-pending.
#include "journal/run_journal.h"
#include "platform/handles.h"
#include "services/start_service.h"
#include "services/service_open.h"
#include "services/service_wait.h"

Flag StartServiceAndWait(const char* service_name, const char* display_text, Flag verbose) {
  OpenedService opened = OpenServiceOrSay(service_name, SERVICE_START | SERVICE_QUERY_STATUS, "start", verbose);
  if (!opened) return 0;
  Say(verbose, "Starting Service (%s)", display_text);
  if (!StartServiceA(opened.Service.Get(), 0, nullptr)) {
    // Read the code before printing: the console write may change it.
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) JournalCallFailed("StartServiceA", error, service_name);
    Say(verbose, "\n");
    // A refused start has always let go of the manager before the service.
    opened.Manager.Close();
    opened.Service.Close();
    // Already running is what the caller wants.
    return error == ERROR_SERVICE_ALREADY_RUNNING ? 1 : 0;
  }
  JournalChange("service started", service_name);
  LastState last;
  const int polls = WaitWhilePending(opened.Service.Get(), SERVICE_START_PENDING, kStartPendingPolls, verbose, &last);
  JournalServiceWait(service_name, "start", polls, last.State);
  Say(verbose, "\n");
  return last.Known && last.State == SERVICE_RUNNING ? 1 : 0;
}

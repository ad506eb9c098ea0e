// Stopping a service: with its active dependents first (StopServiceTree) or
// on its own (StopSingleService).
#include "journal/run_journal.h"
#include "platform/ascii_case.h"
#include "platform/handles.h"
#include "services/stop_service.h"
#include "services/service_open.h"
#include "services/service_wait.h"

namespace {

// What the manager may answer for a service's active dependents; an answer
// that does not fit is an enumeration failure like any other.
constexpr DWORD kDependentsBufferSize = 1440;

// The services whose stops enclose the current one, innermost first. Windows
// refuses a circular dependency, but one written straight into the registry
// would make a service its own dependent's dependent, and the walk would
// recurse until the stack ran out; a service already under way further up
// is therefore passed over. Without a cycle no dependent is ever on the walk.
struct WalkFrame {
  const char* ServiceName;
  const WalkFrame* Outer;
};

bool OnWalk(const WalkFrame* frame, const char* service_name) {
  // Service names are case-insensitive to the manager.
  for (; frame; frame = frame->Outer)
    if (EqualsIgnoringAsciiCase(frame->ServiceName, service_name)) return true;
  return false;
}

Flag StopTree(const char* service_name, const char* display_text, Flag verbose, const WalkFrame* outer);

// The stop of an open service whose progress line is already printed: a
// running service is asked to stop, then watched while it still runs and
// waited for while it is stop-pending. A service in any other state gets no
// request and is only waited for. Every path ends the progress line.
Flag StopOpenService(SC_HANDLE service, const char* service_name, Flag verbose) {
  LastState last;
  if (!ReadServiceState(service, &last)) {
    JournalCallFailed("QueryServiceStatus", GetLastError(), service_name);
    Say(verbose, "\n");
    return 0;
  }
  if (last.State == SERVICE_RUNNING) {
    SERVICE_STATUS status = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      // Read the code before printing: the console write may change it.
      DWORD error = GetLastError();
      if (error != ERROR_SERVICE_NOT_ACTIVE) JournalCallFailed("ControlService", error, service_name);
      Say(verbose, "\n");
      // The service stopped between the read and the request: that is the
      // outcome asked for.
      return error == ERROR_SERVICE_NOT_ACTIVE ? 1 : 0;
    }
    last.State = status.dwCurrentState;
    JournalChange("service stop asked", service_name);
  }
  int polls = 0;
  for (; polls < kRunningPolls; ++polls) {
    if (!ReadServiceState(service, &last) || last.State != SERVICE_RUNNING) break;
    Say(verbose, ".");
    Sleep(kPollIntervalMs);
  }
  polls += WaitWhilePending(service, SERVICE_STOP_PENDING, kStopPendingPolls, verbose, &last);
  JournalServiceWait(service_name, "stop", polls, last.State);
  Say(verbose, "\n");
  return last.State == SERVICE_STOPPED ? 1 : 0;
}

// Stops every active dependent of the service, each with its own dependents
// first. Their results do not matter: a dependent that stays running makes
// the service's own stop fail, which is what gets reported. False when the
// dependents cannot be listed.
bool StopActiveDependents(SC_HANDLE service, const char* display_text, Flag verbose, const WalkFrame* walk) {
  // Each level of the walk has its own buffer: the entries' names point into it.
  alignas(ENUM_SERVICE_STATUSA) BYTE buffer[kDependentsBufferSize];
  DWORD bytes_needed = 0;
  DWORD count = 0;
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer);
  if (!EnumDependentServicesA(service, SERVICE_ACTIVE, entries, sizeof buffer, &bytes_needed, &count)) {
    JournalCallFailed("EnumDependentServicesA", GetLastError(), walk->ServiceName);
    Say(verbose, "\tERROR: Could not enumerate dependent services of (%s)\n", display_text);
    return false;
  }
  // No more entries can lie in the buffer than fit in it, whatever the count says.
  const DWORD capacity = sizeof buffer / sizeof(ENUM_SERVICE_STATUSA);
  if (count > capacity) count = capacity;
  for (DWORD i = 0; i < count; ++i) {
    if (OnWalk(walk, entries[i].lpServiceName)) continue;
    StopTree(entries[i].lpServiceName, entries[i].lpDisplayName, verbose, walk);
  }
  return true;
}

Flag StopTree(const char* service_name, const char* display_text, Flag verbose, const WalkFrame* outer) {
  const OpenedService opened = OpenServiceOrSay(service_name, SERVICE_ALL_ACCESS, "stop", verbose);
  if (!opened) return 0;
  const WalkFrame here = {service_name, outer};
  // A service whose dependents cannot be listed is left running: stopping it
  // would fail anyway while an unseen dependent runs.
  if (!StopActiveDependents(opened.Service.Get(), display_text, verbose, &here)) return 0;
  Say(verbose, "Stopping Service (%s)", display_text);
  return StopOpenService(opened.Service.Get(), service_name, verbose);
}

}  // namespace

Flag StopServiceTree(const char* service_name, const char* display_text, Flag verbose) {
  return StopTree(service_name, display_text, verbose, nullptr);
}

Flag StopSingleService(const char* service_name, const char* display_text, Flag verbose) {
  const OpenedService opened = OpenServiceOrSay(service_name, SERVICE_STOP | SERVICE_QUERY_STATUS, "stop", verbose);
  if (!opened) return 0;
  Say(verbose, "Stopping Service (%s)", display_text);
  return StopOpenService(opened.Service.Get(), service_name, verbose);
}

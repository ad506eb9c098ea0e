// The one-second status polls that the stop and start operations share.
#pragma once

#include "platform/platform.h"

// Every wait polls the status once a second.
constexpr DWORD kPollIntervalMs = 1000;
// A running service gets 15 polls to react to a stop request.
constexpr int kRunningPolls = 15;
// A stop-pending service gets 120 more polls (two minutes) before it counts
// as not stopped.
constexpr int kStopPendingPolls = 120;
// A start-pending service gets the same two minutes as a stop-pending one:
// a service that hangs in its start must not hang the installer that waits
// for it, and two minutes is also what the tool gives a pre-processor.
constexpr int kStartPendingPolls = 120;

// The state of the most recent successful status read or stop request.
struct LastState {
  bool Known = false;
  DWORD State = 0;
};

// Reads the service's status; on success records its state in *last.
bool ReadServiceState(SC_HANDLE service, LastState* last);

// Reads the status and, while the read succeeds and the service is in the
// pending state, prints "." (when verbose), sleeps a second and reads again.
// After the max_polls-th sleep the state is not read again, so a service that
// was still pending at its last read counts as such. Returns the polls made.
int WaitWhilePending(SC_HANDLE service, DWORD pending_state, int max_polls, Flag verbose, LastState* last);

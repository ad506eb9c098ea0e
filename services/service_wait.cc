#include "services/service_wait.h"

bool ReadServiceState(SC_HANDLE service, LastState* last) {
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service, &status)) return false;
  last->known = true;
  last->state = status.dwCurrentState;
  return true;
}

void WaitWhilePending(SC_HANDLE service, DWORD pending_state, int max_polls, Flag verbose, LastState* last) {
  if (!ReadServiceState(service, last) || last->state != pending_state) return;
  for (int sleeps = 1;; ++sleeps) {
    if (verbose) ConsolePrint(".");
    Sleep(kPollIntervalMs);
    if (sleeps >= max_polls) return;
    if (!ReadServiceState(service, last) || last->state != pending_state) return;
  }
}

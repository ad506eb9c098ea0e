#include "services/service_wait.h"

bool ReadServiceState(SC_HANDLE service, LastState* last) {
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service, &status)) return false;
  last->Known = true;
  last->State = status.dwCurrentState;
  return true;
}

int WaitWhilePending(SC_HANDLE service, DWORD pending_state, int max_polls, Flag verbose, LastState* last) {
  if (!ReadServiceState(service, last) || last->State != pending_state) return 0;
  for (int sleeps = 1;; ++sleeps) {
    Say(verbose, ".");
    Sleep(kPollIntervalMs);
    if (sleeps >= max_polls) return sleeps;
    if (!ReadServiceState(service, last) || last->State != pending_state) return sleeps;
  }
}

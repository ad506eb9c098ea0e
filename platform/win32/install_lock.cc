// The install lock on Windows: a named mutex in the global namespace, so
// runs in every session (a service's installer, a user's) share it. A holder
// that died leaves the mutex abandoned, and the next run owns it all the same.
#include "platform/install_lock.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kMutexName[] = "Global\\MevridKotaInstall";

HANDLE g_mutex = nullptr;

// The inherited token names another process that is still running; that
// process set the token only while it held the mutex and waits for the
// pre-processor this run was started by.
bool RunsUnderHolder() {
  char token[32];
  DWORD length = GetEnvironmentVariableA(kInstallLockToken, token, sizeof token);
  if (length == 0 || length >= sizeof token) return false;
  char* end = nullptr;
  unsigned long pid = strtoul(token, &end, 10);
  if (*end != '\0' || pid == 0 || pid == GetCurrentProcessId()) return false;
  HANDLE holder = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (holder == nullptr) return false;
  const bool running = WaitForSingleObject(holder, 0) == WAIT_TIMEOUT;
  CloseHandle(holder);
  return running;
}

bool Fail(Flag verbose) {
  if (verbose) ConsolePrint("\tERROR: Could not gain exclusive access to the KOTA component.\n");
  return false;
}

}  // namespace

bool AcquireInstallLock(Flag verbose) {
  if (g_mutex != nullptr) return true;
  if (RunsUnderHolder()) return true;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  if (mutex == nullptr) return Fail(verbose);
  DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait == WAIT_TIMEOUT) {
    if (verbose) ConsolePrint("Waiting for another installation of the KOTA component to finish.\n");
    wait = WaitForSingleObject(mutex, INFINITE);
  }
  // WAIT_ABANDONED: the last holder died holding it; the mutex is ours now.
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return Fail(verbose);
  }
  g_mutex = mutex;
  char token[32];
  snprintf(token, sizeof token, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
  SetEnvironmentVariableA(kInstallLockToken, token);
  return true;
}

void ReleaseInstallLock() {
  if (g_mutex == nullptr) return;
  SetEnvironmentVariableA(kInstallLockToken, nullptr);
  ReleaseMutex(g_mutex);
  CloseHandle(g_mutex);
  g_mutex = nullptr;
}

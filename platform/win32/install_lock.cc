// The install lock on Windows: a named mutex in the global namespace, so
// runs in every session (a service's installer, a user's) share it. A holder
// that died leaves the mutex abandoned, and the next run owns it all the same.
// The holder also keeps a named event whose name is its token; a run started
// (through a pre-processor) by the holder finds that event and runs under the
// holder's lock. Process ids are reused on Windows, so the token is not one.
#include "platform/install_lock.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kMutexName[] = "Global\\MevridKotaInstall";
// The holder's own object, named by its token: it exists exactly while that
// holder holds the lock, whatever became of the process id since.
constexpr char kHolderPrefix[] = "Global\\MevridKotaInstallHolder-";

HANDLE g_mutex = nullptr;
HANDLE g_holder = nullptr;

bool IsToken(const char* token) {
  if (!*token) return false;
  for (const char* c = token; *c; ++c)
    if ((*c < '0' || *c > '9') && *c != '-') return false;
  return true;
}

// The inherited token names the present holder: its object still exists.
// That holder waits for the pre-processor this run was started by.
bool RunsUnderHolder() {
  char token[64];
  DWORD length = GetEnvironmentVariableA(kInstallLockToken, token, sizeof token);
  if (length == 0 || length >= sizeof token || !IsToken(token)) return false;
  char name[128];
  snprintf(name, sizeof name, "%s%s", kHolderPrefix, token);
  HANDLE holder = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (holder == nullptr) return false;
  CloseHandle(holder);
  return true;
}

LockResult Fail(Flag verbose, LockResult result = LockResult::Failed) {
  if (verbose) ConsolePrint("\tERROR: Could not gain exclusive access to the KOTA component.\n");
  return result;
}

}  // namespace

bool AcquireInstallLock(Flag verbose) { return TakeInstallLock(verbose, -1) == LockResult::Held; }

LockResult TakeInstallLock(Flag verbose, int timeout_seconds) {
  if (g_mutex != nullptr) return LockResult::Held;
  if (RunsUnderHolder()) return LockResult::Held;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  if (mutex == nullptr) return Fail(verbose);
  DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait == WAIT_TIMEOUT) {
    if (verbose) ConsolePrint("Waiting for another installation of the KOTA component to finish.\n");
    const DWORD bound = timeout_seconds < 0 ? INFINITE : static_cast<DWORD>(timeout_seconds) * 1000;
    wait = WaitForSingleObject(mutex, bound);
  }
  // WAIT_ABANDONED: the last holder died holding it; the mutex is ours now.
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return Fail(verbose, wait == WAIT_TIMEOUT ? LockResult::TimedOut : LockResult::Failed);
  }
  // A token no earlier holder had: the process id and the time of taking.
  char token[64];
  snprintf(token, sizeof token, "%lu-%llu", static_cast<unsigned long>(GetCurrentProcessId()),
           static_cast<unsigned long long>(GetTickCount64()));
  char name[128];
  snprintf(name, sizeof name, "%s%s", kHolderPrefix, token);
  HANDLE holder = CreateEventA(nullptr, TRUE, FALSE, name);
  if (holder == nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return Fail(verbose);
  }
  g_mutex = mutex;
  g_holder = holder;
  SetEnvironmentVariableA(kInstallLockToken, token);
  return LockResult::Held;
}

void ReleaseInstallLock() {
  if (g_mutex == nullptr) return;
  SetEnvironmentVariableA(kInstallLockToken, nullptr);
  CloseHandle(g_holder);
  g_holder = nullptr;
  ReleaseMutex(g_mutex);
  CloseHandle(g_mutex);
  g_mutex = nullptr;
}

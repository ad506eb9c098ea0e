// The install lock on Windows: a named mutex in the global namespace, so
// runs in every session (a service's installer, a user's) share it. A holder
// that died leaves the mutex abandoned, and the next run owns it all the same.
// The holder also keeps a named event whose name is its token; a run started
// (through a pre-processor) by the holder finds that event and runs under the
// holder's lock. Process ids are reused on Windows, so the token is not one.
#include "platform/install_lock.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/handles.h"

namespace {

ScopedKernelHandle g_mutex;
// The holder's own object, named by its token after the lock's name: it
// exists exactly while that holder holds the lock, whatever became of the
// process id since.
ScopedKernelHandle g_holder;

void FormHolderName(const char* token, char (&name)[128]) {
  snprintf(name, sizeof name, "%sHolder-%s", kInstallLockName, token);
}

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
  FormHolderName(token, name);
  ScopedKernelHandle holder(OpenEventA(SYNCHRONIZE, FALSE, name));
  return static_cast<bool>(holder);
}

}  // namespace

bool AcquireInstallLock() { return TakeInstallLock(-1) == LockResult::Held; }

LockResult TakeInstallLock(int timeout_seconds, const std::function<void()>& on_wait) {
  if (g_mutex) return LockResult::Held;
  if (RunsUnderHolder()) return LockResult::Held;
  ScopedKernelHandle mutex(CreateMutexA(nullptr, FALSE, kInstallLockName));
  if (!mutex) return LockResult::Failed;
  DWORD wait = WaitForSingleObject(mutex.Get(), 0);
  if (wait == WAIT_TIMEOUT) {
    if (on_wait) on_wait();
    const DWORD bound = timeout_seconds < 0 ? INFINITE : static_cast<DWORD>(timeout_seconds) * 1000;
    wait = WaitForSingleObject(mutex.Get(), bound);
  }
  // WAIT_ABANDONED: the last holder died holding it; the mutex is ours now.
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
    return wait == WAIT_TIMEOUT ? LockResult::TimedOut : LockResult::Failed;
  // A token no earlier holder had: the process id and the time of taking.
  char token[64];
  snprintf(token, sizeof token, "%lu-%llu", static_cast<unsigned long>(GetCurrentProcessId()),
           static_cast<unsigned long long>(GetTickCount64()));
  char name[128];
  FormHolderName(token, name);
  ScopedKernelHandle holder(CreateEventA(nullptr, TRUE, FALSE, name));
  if (!holder) {
    ReleaseMutex(mutex.Get());
    return LockResult::Failed;
  }
  g_mutex = std::move(mutex);
  g_holder = std::move(holder);
  SetEnvironmentVariableA(kInstallLockToken, token);
  return LockResult::Held;
}

void ReleaseInstallLock() {
  if (!g_mutex) return;
  SetEnvironmentVariableA(kInstallLockToken, nullptr);
  g_holder.Close();
  ReleaseMutex(g_mutex.Get());
  g_mutex.Close();
}

// Whether the install lock is held on Windows, asked without taking it: the
// mutex exists only while some run has it open, and its state says whether
// one owns it. The state is read through NtQueryMutant, which leaves the
// mutex alone; taking it for a moment instead would make a run that tries
// it just then say that it waits, so that is only the fallback.
#include <windows.h>

#include "platform/handles.h"
#include "platform/install_lock.h"

namespace {

constexpr DWORD kMutantQueryState = 0x0001;

struct MutantBasicInformation {
  LONG CurrentCount;  // 1 when free, 0 or less while owned
  BOOLEAN OwnedByCaller;
  BOOLEAN AbandonedState;
};
using NtQueryMutantFunction = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);

}  // namespace

bool IsInstallLockHeldNow() {
  ScopedKernelHandle mutex(OpenMutexA(SYNCHRONIZE | kMutantQueryState, FALSE, kInstallLockName));
  if (!mutex) return false;
  bool held = false;
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto query = ntdll ? reinterpret_cast<NtQueryMutantFunction>(
                           reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryMutant")))
                     : nullptr;
  MutantBasicInformation info{};
  if (query && query(mutex.Get(), 0, &info, sizeof info, nullptr) >= 0) {
    held = info.CurrentCount <= 0;
  } else {
    const DWORD wait = WaitForSingleObject(mutex.Get(), 0);
    held = wait == WAIT_TIMEOUT;
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex.Get());
  }
  return held;
}

// The install lock on Windows: a named mutex in the global namespace, so
// runs in every session (a service's installer, a user's) share it. A holder
// that died leaves the mutex abandoned, and the next run owns it all the same.
//
// While it holds the mutex the holder keeps its record (see
// install_lock_holder.h) in a named section beside it, readable by everyone
// and writable by no one but through the holder's own handle; the section
// goes with the holding. A run that inherited that record and descends from
// the recorded holder runs under the holder's lock; knowing the record is
// not enough.
#include "platform/install_lock.h"

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "platform/handles.h"
#include "platform/install_lock_holder.h"
#include "platform/win32/process_stamps.h"

namespace {

constexpr DWORD kRecordSize = 96;
// Read for everyone, the owner's own rights included (no one may change the
// section's access to write it).
constexpr char kRecordAccess[] = "D:P(A;;GR;;;WD)(A;;GR;;;OW)";

ScopedKernelHandle g_mutex;
ScopedKernelHandle g_record;

// The present holding's record; empty when there is none.
std::string PresentRecord() {
  ScopedKernelHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kInstallLockRecordName));
  if (!section) return std::string();
  const char* view = static_cast<const char*>(MapViewOfFile(section.Get(), FILE_MAP_READ, 0, 0, kRecordSize));
  if (!view) return std::string();
  const std::string record(view, strnlen(view, kRecordSize));
  UnmapViewOfFile(view);
  return record;
}

bool RunsUnderHolder() {
  char inherited[kRecordSize];
  const DWORD length = GetEnvironmentVariableA(kInstallLockToken, inherited, sizeof inherited);
  ProcessStamp self;
  if (length == 0 || length >= sizeof inherited || !OwnProcessStamp(&self)) return false;
  return RunsUnderHolding(inherited, PresentRecord(), self, SnapshotParentLookup());
}

// A section of that name left over can only be a reader of the last
// holding's record finishing its read (or another program's squatting): the
// holder tries again for a moment before it gives up.
HANDLE CreateRecordSection() {
  PSECURITY_DESCRIPTOR access = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kRecordAccess, SDDL_REVISION_1, &access, nullptr))
    return nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, access, FALSE};
  HANDLE section = nullptr;
  for (int attempt = 0; attempt < 50 && !section; ++attempt) {
    if (attempt > 0) Sleep(10);
    section = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, kRecordSize, kInstallLockRecordName);
    if (section && GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(section);
      section = nullptr;
    }
  }
  LocalFree(access);
  return section;
}

bool PublishRecord(const std::string& record, ScopedKernelHandle* kept) {
  ScopedKernelHandle section(CreateRecordSection());
  if (!section || record.size() >= kRecordSize) return false;
  char* view = static_cast<char*>(MapViewOfFile(section.Get(), FILE_MAP_WRITE, 0, 0, kRecordSize));
  if (!view) return false;
  memcpy(view, record.c_str(), record.size() + 1);
  UnmapViewOfFile(view);
  *kept = std::move(section);
  return true;
}

// This holding's record; empty when this process cannot stamp itself.
std::string NewRecord() {
  ProcessStamp self;
  if (!OwnProcessStamp(&self)) return std::string();
  std::random_device entropy;
  return HolderRecord(self, (static_cast<uint64_t>(entropy()) << 32) ^ entropy());
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
  const std::string record = NewRecord();
  ScopedKernelHandle published;
  if (record.empty() || !PublishRecord(record, &published)) {
    const DWORD error = GetLastError();  // the caller reports the failed call's error
    ReleaseMutex(mutex.Get());
    SetLastError(error);
    return LockResult::Failed;
  }
  g_mutex = std::move(mutex);
  g_record = std::move(published);
  SetEnvironmentVariableA(kInstallLockToken, record.c_str());
  return LockResult::Held;
}

void ReleaseInstallLock() {
  if (!g_mutex) return;
  SetEnvironmentVariableA(kInstallLockToken, nullptr);
  g_record.Close();
  ReleaseMutex(g_mutex.Get());
  g_mutex.Close();
}

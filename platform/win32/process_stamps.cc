#include "platform/win32/process_stamps.h"

#include <windows.h>
#include <tlhelp32.h>

#include <map>
#include <memory>

#include "platform/handles.h"

namespace {

bool CreationTime(HANDLE process, uint64_t* created) {
  FILETIME creation, exited, kernel, user;
  if (!GetProcessTimes(process, &creation, &exited, &kernel, &user)) return false;
  *created = (static_cast<uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
  return true;
}

}  // namespace

bool OwnProcessStamp(ProcessStamp* self) {
  self->Id = GetCurrentProcessId();
  return CreationTime(GetCurrentProcess(), &self->Created);
}

ParentLookup SnapshotParentLookup() {
  auto parents = std::make_shared<std::map<DWORD, DWORD>>();
  ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  if (snapshot) {
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
      (*parents)[entry.th32ProcessID] = entry.th32ParentProcessID;
  }
  return [parents](const ProcessStamp& child, ProcessStamp* parent) {
    const auto found = parents->find(static_cast<DWORD>(child.Id));
    if (found == parents->end() || found->second == 0) return false;
    ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, found->second));
    if (!process) return false;
    parent->Id = found->second;
    return CreationTime(process.Get(), &parent->Created);
  };
}

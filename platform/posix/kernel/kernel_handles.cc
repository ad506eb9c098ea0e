// The one table of kernel handles (files, processes, threads) behind
// CloseHandle, and the share modes of the files open in this process.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "platform/posix/admin.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/machine/fault_check.h"

namespace emu::k32 {
namespace {

std::mutex g_mutex;
// Declared before the handle table so that it outlives it: file objects
// still open at exit unregister themselves here as the table is destroyed.
std::vector<const FileObject*> g_open_files;
std::map<uintptr_t, std::shared_ptr<KernelObject>> g_handles;
// Values are never reused, so a handle used after its close fails with
// ERROR_INVALID_HANDLE instead of reaching whatever was opened next. They
// are multiples of four, as Windows hands them out.
uintptr_t g_next_handle = 0x100;

bool Wants(DWORD access, DWORD right) { return (access & right) != 0; }

}  // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  std::lock_guard<std::mutex> lock(g_mutex);
  uintptr_t value = g_next_handle;
  g_next_handle += 4;
  g_handles[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == g_handles.end() ? nullptr : it->second;
}

FileObject::FileObject(UniqueFd fd, std::string windows_path, DWORD access, DWORD share, const struct stat& st)
    : fd_(std::move(fd)), windows_path_(std::move(windows_path)), access_(access), share_(share), dev_(st.st_dev),
      ino_(st.st_ino) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_open_files.push_back(this);
}

FileObject::~FileObject() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open_files.erase(std::remove(g_open_files.begin(), g_open_files.end(), this), g_open_files.end());
  }
}

DWORD CheckSharing(const struct stat& st, DWORD access, DWORD share) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const FileObject* open : g_open_files) {
    if (open->dev() != st.st_dev || open->ino() != st.st_ino) continue;
    // Each side must allow what the other does: the new access against the
    // open handle's share mode, and the open handle's access against the
    // new share mode.
    bool conflict = (Wants(access, GENERIC_READ) && !Wants(open->share(), FILE_SHARE_READ)) ||
                    (Wants(access, GENERIC_WRITE) && !Wants(open->share(), FILE_SHARE_WRITE)) ||
                    (Wants(access, DELETE) && !Wants(open->share(), FILE_SHARE_DELETE)) ||
                    (Wants(open->access(), GENERIC_READ) && !Wants(share, FILE_SHARE_READ)) ||
                    (Wants(open->access(), GENERIC_WRITE) && !Wants(share, FILE_SHARE_WRITE)) ||
                    (Wants(open->access(), DELETE) && !Wants(share, FILE_SHARE_DELETE));
    if (conflict) return ERROR_SHARING_VIOLATION;
  }
  return 0;
}

}  // namespace emu::k32

namespace emu {

size_t admin::OpenKernelHandleCount() {
  std::lock_guard<std::mutex> lock(k32::g_mutex);
  return k32::g_handles.size();
}

}  // namespace emu

BOOL CloseHandle(HANDLE hObject) {
  std::shared_ptr<emu::k32::KernelObject> object = emu::k32::FindHandle(hObject);
  // The handle is released even when a fault rule makes the call report an
  // error, as RegCloseKey and CloseServiceHandle release theirs: a close that
  // fails on Windows was handed no valid open handle, so nothing stays open.
  const DWORD fault = emu::CheckFault("CloseHandle", object ? object->Describe() : std::string());
  if (!object) {
    emu::SetLastErrorCode(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(emu::k32::g_mutex);
    emu::k32::g_handles.erase(reinterpret_cast<uintptr_t>(hObject));
  }
  // The object (an open file's descriptor, a process's record) goes when
  // its last handle does, outside the lock: a process record reaps its child.
  object.reset();
  if (fault) {
    emu::SetLastErrorCode(fault);
    return FALSE;
  }
  return TRUE;
}

// GetFileSize over the emulated drives: the size of an open file, the low
// part returned and the high part stored, as kernel32 does it.
#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/internal.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/machine/fault_check.h"

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  auto file = emu::k32::FindHandleOf<emu::k32::FileObject>(hFile);
  if (DWORD fault = emu::CheckFault("GetFileSize", file ? file->Describe() : "")) {
    emu::SetLastErrorCode(fault);
    return INVALID_FILE_SIZE;
  }
  struct stat st;
  if (!file || fstat(file->fd(), &st) != 0) {
    emu::SetLastErrorCode(file ? emu::k32::ErrorFromErrno(errno, "") : ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  // A low part that reads as INVALID_FILE_SIZE is told apart by the error.
  emu::SetLastErrorCode(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

#include "tools/win32_errors.h"

#include <strings.h>

#include "tools/tool.h"

namespace machine_tool {
namespace {

struct ErrorText {
  DWORD code;
  const char* name;
  const char* message;
};

// The codes the emulation gives (see platform/posix/win32_api.h), with the
// messages of an English Windows.
const ErrorText kErrors[] = {
    {0, "ERROR_SUCCESS", "The operation completed successfully."},
    {1, "ERROR_INVALID_FUNCTION", "Incorrect function."},
    {2, "ERROR_FILE_NOT_FOUND", "The system cannot find the file specified."},
    {3, "ERROR_PATH_NOT_FOUND", "The system cannot find the path specified."},
    {5, "ERROR_ACCESS_DENIED", "Access is denied."},
    {6, "ERROR_INVALID_HANDLE", "The handle is invalid."},
    {8, "ERROR_NOT_ENOUGH_MEMORY", "Not enough memory resources are available to process this command."},
    {19, "ERROR_WRITE_PROTECT", "The media is write protected."},
    {32, "ERROR_SHARING_VIOLATION", "The process cannot access the file because it is being used by another process."},
    {80, "ERROR_FILE_EXISTS", "The file exists."},
    {87, "ERROR_INVALID_PARAMETER", "The parameter is incorrect."},
    {122, "ERROR_INSUFFICIENT_BUFFER", "The data area passed to a system call is too small."},
    {123, "ERROR_INVALID_NAME", "The filename, directory name, or volume label syntax is incorrect."},
    {183, "ERROR_ALREADY_EXISTS", "Cannot create a file when that file already exists."},
    {193, "ERROR_BAD_EXE_FORMAT", "%1 is not a valid Win32 application."},
    {206, "ERROR_FILENAME_EXCED_RANGE", "The filename or extension is too long."},
    {234, "ERROR_MORE_DATA", "More data is available."},
    {259, "ERROR_NO_MORE_ITEMS", "No more data is available."},
    {1011, "ERROR_CANTOPEN", "The configuration registry key could not be opened."},
    {1012, "ERROR_CANTREAD", "The configuration registry key could not be read."},
    {1013, "ERROR_CANTWRITE", "The configuration registry key could not be written."},
    {1016, "ERROR_REGISTRY_IO_FAILED",
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or write "
     "out, or flush, one of the files that contain the system's image of the registry."},
    {1018, "ERROR_KEY_DELETED", "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1051, "ERROR_DEPENDENT_SERVICES_RUNNING",
     "A stop control has been sent to a service that other running services are dependent on."},
    {1052, "ERROR_INVALID_SERVICE_CONTROL", "The requested control is not valid for this service."},
    {1053, "ERROR_SERVICE_REQUEST_TIMEOUT",
     "The service did not respond to the start or control request in a timely fashion."},
    {1054, "ERROR_SERVICE_NO_THREAD", "A thread could not be created for the service."},
    {1055, "ERROR_SERVICE_DATABASE_LOCKED", "The service database is locked."},
    {1056, "ERROR_SERVICE_ALREADY_RUNNING", "An instance of the service is already running."},
    {1057, "ERROR_INVALID_SERVICE_ACCOUNT",
     "The account name is invalid or does not exist, or the password is invalid for the account name specified."},
    {1058, "ERROR_SERVICE_DISABLED",
     "The service cannot be started, either because it is disabled or because it has no enabled devices "
     "associated with it."},
    {1059, "ERROR_CIRCULAR_DEPENDENCY", "Circular service dependency was specified."},
    {1060, "ERROR_SERVICE_DOES_NOT_EXIST", "The specified service does not exist as an installed service."},
    {1061, "ERROR_SERVICE_CANNOT_ACCEPT_CTRL", "The service cannot accept control messages at this time."},
    {1062, "ERROR_SERVICE_NOT_ACTIVE", "The service has not been started."},
    {1068, "ERROR_SERVICE_DEPENDENCY_FAIL", "The dependency service or group failed to start."},
    {1071, "ERROR_INVALID_SERVICE_LOCK", "The specified service database lock is invalid."},
    {1072, "ERROR_SERVICE_MARKED_FOR_DELETE", "The specified service has been marked for deletion."},
    {1073, "ERROR_SERVICE_EXISTS", "The specified service already exists."},
};

const ErrorText* Find(DWORD code) {
  for (const ErrorText& entry : kErrors)
    if (entry.code == code) return &entry;
  return nullptr;
}

}  // namespace

const char* ErrorName(DWORD code) {
  const ErrorText* entry = Find(code);
  return entry ? entry->name : nullptr;
}

std::string ErrorMessage(DWORD code) {
  const ErrorText* entry = Find(code);
  // FormatMessage has no text for a code it does not know; sc then prints
  // nothing after the code, which says less than this does.
  return entry ? entry->message : Format("Unknown error %u.", static_cast<unsigned>(code));
}

bool ErrorCodeOfName(const std::string& name, DWORD* code) {
  for (const ErrorText& entry : kErrors) {
    if (strcasecmp(entry.name, name.c_str()) == 0) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

}  // namespace machine_tool

// The reboot of an emulated machine, in the order Windows boots: the
// Session Manager carries out the pending renames and deletions before any
// service starts, so a driver image scheduled for deletion is gone before
// the service that would load it is looked at.
#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/machine.h"

namespace emu::admin {

bool Reboot(std::string* error) {
  // Copies a killed process left half-written do not survive a restart.
  RemoveStaleCopies(DriveDirectory('c'), true);
  std::string file_error;
  bool files_done = RunPendingFileOperations(&file_error);
  std::string service_error;
  bool services_done = RebootServices(&service_error);
  if (error) {
    *error = file_error;
    if (!service_error.empty()) *error += (error->empty() ? "" : "; ") + service_error;
  }
  return files_done && services_done;
}

}  // namespace emu::admin

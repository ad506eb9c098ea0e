// The machine as a whole for its administrator: batches of admin calls,
// the database's soundness, and the reboot, in the order Windows boots: the
// Session Manager carries out the pending renames and deletions before any
// service starts, so a driver image scheduled for deletion is gone before
// the service that would load it is looked at.
#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine/database.h"

namespace emu::admin {

struct Batch::Open {
  Transaction transaction;
};

Batch::Batch() : open_(std::make_unique<Open>()) {}
Batch::~Batch() = default;
bool Batch::ok() const { return open_->transaction.ok(); }
bool Batch::Commit() { return open_->transaction.Commit(); }

DatabaseCheck CheckDatabase() {
  DatabaseCheck check;
  Statement integrity(Db(), "PRAGMA integrity_check");
  while (integrity.Step() == SQLITE_ROW) check.integrity += (check.integrity.empty() ? "" : "; ") + integrity.Text(0);
  Statement values(Db(), "SELECT COUNT(*) FROM reg_values WHERE key_id NOT IN (SELECT id FROM reg_keys)");
  check.orphan_values = values.Step() == SQLITE_ROW ? values.Int(0) : -1;
  Statement keys(Db(), "SELECT COUNT(*) FROM reg_keys WHERE id<>1 AND parent NOT IN (SELECT id FROM reg_keys)");
  check.orphan_keys = keys.Step() == SQLITE_ROW ? keys.Int(0) : -1;
  return check;
}

void SetCommitHook(int (*hook)(void* context), void* context) { sqlite3_commit_hook(Db(), hook, context); }

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

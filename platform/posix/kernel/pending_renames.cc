// Renames and deletions deferred to the next reboot, kept where and as
// Windows keeps them: the REG_MULTI_SZ value PendingFileRenameOperations of
// the Session Manager key, one pair of strings per operation (the
// "\??\"-prefixed source, then the target: empty for a deletion, with a
// leading "!" when it may replace an existing file), closed by an empty
// string.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"
#include "util/multi_string.h"

namespace emu {
namespace {

constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingValue[] = "PendingFileRenameOperations";
constexpr char kNtPrefix[] = "\\??\\";

struct PendingOperation {
  std::string source;
  std::string target;  // empty: delete the source
};

// The pairs of a PendingFileRenameOperations value; the list ends at an
// empty source or at the end of the data.
std::vector<PendingOperation> ParsePending(const std::string& data) {
  std::vector<PendingOperation> operations;
  const std::vector<std::string> strings = SplitAtNul(data);
  for (size_t i = 0; i < strings.size() && !strings[i].empty(); i += 2)
    operations.push_back({strings[i], i + 1 < strings.size() ? strings[i + 1] : std::string()});
  return operations;
}

std::string CarryOut(const PendingOperation& op) {
  std::string source;
  if (!TranslatePath(op.source, &source)) return op.source + ": no such path";
  struct stat st;
  if (op.target.empty()) {
    if (lstat(source.c_str(), &st) != 0) return errno == ENOENT ? "" : op.source + ": " + strerror(errno);
    // At boot nothing holds the file and its attributes do not protect it.
    int result = S_ISDIR(st.st_mode) ? rmdir(source.c_str()) : unlink(source.c_str());
    return result == 0 ? "" : "cannot delete " + op.source + ": " + strerror(errno);
  }
  bool replace = op.target[0] == '!';
  std::string target_name = replace ? op.target.substr(1) : op.target;
  std::string target;
  if (!TranslatePath(target_name, &target)) return target_name + ": no such path";
  if (!replace && lstat(target.c_str(), &st) == 0) return "cannot rename " + op.source + ": " + target_name + " exists";
  if (rename(source.c_str(), target.c_str()) != 0)
    return "cannot rename " + op.source + " to " + target_name + ": " + strerror(errno);
  return "";
}

}  // namespace

namespace k32 {

bool ScheduleAtReboot(const std::string& from, const char* to, DWORD flags, DWORD* error) {
  std::string full_from, full_to;
  if (!FullWindowsPath(from, &full_from, error) || (to && !FullWindowsPath(to, &full_to, error))) return false;
  std::string entry = kNtPrefix;
  entry.append(full_from).push_back('\0');
  if (to) {
    if (flags & MOVEFILE_REPLACE_EXISTING) entry.push_back('!');
    entry.append(kNtPrefix).append(full_to);
  }
  entry.push_back('\0');
  Transaction tx;
  *error = ERROR_REGISTRY_IO_FAILED;
  if (!tx.ok()) return false;
  int64_t key = store::CreateKey(store::kRootKeyId, kSessionManagerKey, "");
  if (key == store::kNoKey) return false;
  std::string data;
  store::Value existing;
  if (store::GetValue(key, kPendingValue, &existing)) {
    if (existing.type != REG_MULTI_SZ) {
      *error = ERROR_INVALID_PARAMETER;
      return false;
    }
    data = existing.data;
    // The list's closing empty string; it is added back after the new pair.
    if (!data.empty()) data.pop_back();
  }
  data += entry + '\0';
  if (!store::SetValue(key, kPendingValue, REG_MULTI_SZ, data) || !tx.Commit()) return false;
  *error = 0;
  return true;
}

}  // namespace k32

bool RunPendingFileOperations(std::string* error) {
  Transaction tx;
  if (!tx.ok()) {
    if (error) *error = "cannot open the machine's database";
    return false;
  }
  int64_t key = store::FindKey(store::kRootKeyId, kSessionManagerKey);
  store::Value value;
  if (key == store::kNoKey || !store::GetValue(key, kPendingValue, &value)) return tx.Commit();
  // As at a Windows boot, one operation that fails does not stop the others,
  // and the list is cleared either way.
  std::string failures;
  for (const PendingOperation& op : ParsePending(value.data)) {
    std::string failure = CarryOut(op);
    if (!failure.empty()) failures += (failures.empty() ? "" : "; ") + failure;
  }
  if (!store::DeleteValue(key, kPendingValue) || !tx.Commit()) {
    if (error) *error = "cannot clear " + std::string(kPendingValue);
    return false;
  }
  if (!failures.empty()) {
    if (error) *error = failures;
    return false;
  }
  return true;
}

}  // namespace emu

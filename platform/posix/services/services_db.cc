// The service database: configuration from the registry, runtime rows with
// the clock applied, open-handle rows, deletion of marked services, and the
// dependents walk.
#include "platform/posix/services/services_db.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/kernel/process_alive.h"
#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"
#include "util/multi_string.h"

namespace emu::svc {
namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The services that name each service in DependOnService, by upper-cased
// name, each list in the order of the services key: one pass over every
// service instead of one per service visited.
std::unordered_map<std::string, std::vector<size_t>> DependentsIndex(const std::vector<Config>& all) {
  std::unordered_map<std::string, std::vector<size_t>> index;
  for (size_t i = 0; i < all.size(); ++i) {
    for (const std::string& dependency : all[i].depends) {
      if (dependency.empty() || dependency[0] == kGroupPrefix) continue;
      std::vector<size_t>& dependents = index[Upper(dependency)];
      if (dependents.empty() || dependents.back() != i) dependents.push_back(i);
    }
  }
  return index;
}

}  // namespace

bool IsDriverType(uint32_t type) { return (type & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0; }

bool IsValidServiceName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxServiceNameLength && name.find_first_of("\\/") == std::string::npos;
}

int64_t ServicesKey() {
  int64_t key = store::FindKey(store::kRootKeyId, kServicesKeyPath);
  return key != store::kNoKey ? key : store::CreateKey(store::kRootKeyId, kServicesKeyPath, "");
}

int64_t FindServiceKey(const std::string& name) {
  if (!IsValidServiceName(name)) return store::kNoKey;
  int64_t services = store::FindKey(store::kRootKeyId, kServicesKeyPath);
  if (services == store::kNoKey) return store::kNoKey;
  int64_t key = store::FindKey(services, name);
  uint32_t type;
  return key != store::kNoKey && store::GetDword(key, "Type", &type) ? key : store::kNoKey;
}

bool ReadConfig(int64_t key, Config* config) {
  // One read of the key's values: the dependents walk reads every service.
  Config result;
  result.name = store::KeyName(key);
  bool typed = false;
  std::vector<std::string> groups;
  for (const store::Value& value : store::Values(key)) {
    std::string name = Upper(value.name);
    std::string text = value.data;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    uint32_t number = 0;
    bool is_dword = value.data.size() == sizeof number;
    if (is_dword) memcpy(&number, value.data.data(), sizeof number);
    if (name == "TYPE" && is_dword) {
      result.type = number;
      typed = true;
    } else if (name == "START" && is_dword) {
      result.start_type = number;
    } else if (name == "ERRORCONTROL" && is_dword) {
      result.error_control = number;
    } else if (name == "IMAGEPATH") {
      result.image = text;
    } else if (name == "GROUP") {
      result.group = text;
    } else if (name == "DISPLAYNAME") {
      result.display = text;
    } else if (name == "DEPENDONSERVICE") {
      result.depends = MultiStringItems(value.data);
    } else if (name == "DEPENDONGROUP") {
      groups = MultiStringItems(value.data);
    }
  }
  if (!typed) return false;
  if (result.display.empty()) result.display = result.name;
  for (const std::string& group : groups) result.depends.push_back(kGroupPrefix + group);
  *config = result;
  return true;
}

std::vector<Config> AllServices() {
  std::vector<Config> services;
  int64_t parent = store::FindKey(store::kRootKeyId, kServicesKeyPath);
  if (parent == store::kNoKey) return services;
  for (const auto& [key, name] : store::Subkeys(parent)) {
    Config config;
    if (ReadConfig(key, &config)) services.push_back(config);
  }
  return services;
}

bool WouldDependOnItself(const std::string& name, const std::vector<std::string>& depends) {
  const std::vector<Config> all = AllServices();
  std::unordered_map<std::string, const Config*> by_name;
  for (const Config& config : all) by_name.emplace(Upper(config.name), &config);
  // Every service the new one would reach, each looked at once, on a list of
  // our own rather than the thread's stack.
  std::unordered_set<std::string> visited;
  std::vector<std::string> pending(depends.rbegin(), depends.rend());
  while (!pending.empty()) {
    std::string current;
    current.swap(pending.back());
    pending.pop_back();
    if (current.empty() || current[0] == kGroupPrefix) continue;
    if (EqualsNoCase(current, name)) return true;
    if (!visited.insert(Upper(current)).second) continue;
    auto found = by_name.find(Upper(current));
    if (found != by_name.end())
      pending.insert(pending.end(), found->second->depends.rbegin(), found->second->depends.rend());
  }
  return false;
}

Runtime LoadRuntime(const std::string& name) {
  Runtime runtime;
  {
    Statement st(Db(),
                 "SELECT state, until_ms, start_ms, stop_ms, start_fails, refuse_stop, marked_delete, stop_lag_ms,"
                 " lag_until_ms FROM services WHERE uname=?1");
    st.Bind(1, Upper(name));
    if (st.Step() != SQLITE_ROW) return runtime;
    runtime.state = static_cast<uint32_t>(st.Int(0));
    runtime.until_ms = st.Int(1);
    runtime.start_ms = st.Int(2);
    runtime.stop_ms = st.Int(3);
    runtime.start_fails = st.Int(4) != 0;
    runtime.refuse_stop = static_cast<uint32_t>(st.Int(5));
    runtime.marked_delete = st.Int(6) != 0;
    runtime.stop_lag_ms = st.Int(7);
    if (!st.IsNull(8)) runtime.lag_until_ms = st.Int(8);
  }
  int64_t now = NowMs();
  bool changed = false;
  // A held-back stop turns into the stop-pending time from the moment the
  // lag ended, however long ago that was; the next step may end that too.
  if (runtime.state == SERVICE_RUNNING && runtime.lag_until_ms && now >= *runtime.lag_until_ms) {
    int64_t lag_end = *runtime.lag_until_ms;
    runtime.lag_until_ms.reset();
    runtime.state = runtime.stop_ms > 0 ? SERVICE_STOP_PENDING : SERVICE_STOPPED;
    runtime.until_ms = runtime.stop_ms > 0 ? lag_end + runtime.stop_ms : 0;
    changed = true;
  }
  bool pending = runtime.state == SERVICE_START_PENDING || runtime.state == SERVICE_STOP_PENDING;
  if (pending && now >= runtime.until_ms) {
    runtime.state = runtime.state == SERVICE_START_PENDING && !runtime.start_fails ? SERVICE_RUNNING : SERVICE_STOPPED;
    runtime.until_ms = 0;
    changed = true;
  }
  // A reader sees the state time has brought; the next writer stores it.
  if (changed && !MachineIsReadOnly()) SaveRuntime(name, runtime);
  return runtime;
}

bool SaveRuntime(const std::string& name, const Runtime& runtime) {
  Statement st(Db(),
               "INSERT OR REPLACE INTO services(uname, state, until_ms, start_ms, stop_ms, start_fails, refuse_stop,"
               " marked_delete, stop_lag_ms, lag_until_ms) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  st.Bind(1, Upper(name))
      .Bind(2, static_cast<int64_t>(runtime.state))
      .Bind(3, runtime.until_ms)
      .Bind(4, runtime.start_ms)
      .Bind(5, runtime.stop_ms)
      .Bind(6, runtime.start_fails ? 1 : 0)
      .Bind(7, static_cast<int64_t>(runtime.refuse_stop))
      .Bind(8, runtime.marked_delete ? 1 : 0)
      .Bind(9, runtime.stop_lag_ms);
  if (runtime.lag_until_ms)
    st.Bind(10, *runtime.lag_until_ms);
  else
    st.BindNull(10);
  return st.Run();
}

bool ServiceExists(const std::string& name) {
  return FindServiceKey(name) != store::kNoKey && !FinalizeIfDeletable(name);
}

bool FinalizeIfDeletable(const std::string& name) {
  Runtime runtime = LoadRuntime(name);
  if (!runtime.marked_delete || runtime.state != SERVICE_STOPPED || LiveHandleCount(name) > 0) return false;
  // For a reader the service is gone as it is for everyone; a writer erases it.
  return MachineIsReadOnly() || EraseService(name);
}

bool EraseService(const std::string& name) {
  Transaction tx;
  if (!tx.ok()) return false;
  int64_t services = store::FindKey(store::kRootKeyId, kServicesKeyPath);
  int64_t key = services == store::kNoKey || !IsValidServiceName(name) ? store::kNoKey : store::FindKey(services, name);
  if (key != store::kNoKey && !store::DeleteTree(key)) return false;
  Statement row(Db(), "DELETE FROM services WHERE uname=?1");
  row.Bind(1, Upper(name));
  Statement handles(Db(), "DELETE FROM service_handles WHERE uname=?1");
  handles.Bind(1, Upper(name));
  return row.Run() && handles.Run() && tx.Commit();
}

int64_t AddHandleRow(const std::string& name) {
  // A reader's handle has no row: it keeps no marked service from going.
  if (MachineIsReadOnly()) return kReaderHandleRow;
  Statement st(Db(), "INSERT INTO service_handles(pid, uname) VALUES(?1, ?2)");
  st.Bind(1, static_cast<int64_t>(getpid())).Bind(2, Upper(name));
  return st.Run() ? sqlite3_last_insert_rowid(Db()) : 0;
}

void RemoveHandleRow(int64_t row) {
  if (row == kReaderHandleRow) return;
  Statement st(Db(), "DELETE FROM service_handles WHERE id=?1");
  st.Bind(1, row);
  st.Run();
}

int LiveHandleCount(const std::string& name) {
  int live = 0;
  std::vector<int64_t> dead;
  {
    Statement st(Db(), "SELECT id, pid FROM service_handles WHERE uname=?1");
    st.Bind(1, Upper(name));
    while (st.Step() == SQLITE_ROW) {
      if (ProcessAlive(st.Int(1)))
        ++live;
      else
        dead.push_back(st.Int(0));
    }
  }
  // A process that ended without closing its handles has lost them, as on
  // Windows; its rows go so they are not looked at again.
  if (!MachineIsReadOnly())
    for (int64_t row : dead) RemoveHandleRow(row);
  return live;
}

std::vector<Dependent> Dependents(const std::string& name, DWORD state_mask) {
  const std::vector<Config> all = AllServices();
  const auto index = DependentsIndex(all);
  static const std::vector<size_t> kNone;
  auto dependents_of = [&index](const std::string& service) -> const std::vector<size_t>& {
    auto found = index.find(Upper(service));
    return found == index.end() ? kNone : found->second;
  };
  // Depth first, each service after its own dependents (the reverse of the
  // order in which they would be started), on a stack of our own: a chain of
  // thousands of services must not exhaust the thread's stack.
  struct Frame {
    const std::vector<size_t>* dependents;
    size_t next;
    size_t service;  // the service to report once its dependents are done
    Runtime runtime;
  };
  constexpr size_t kQueried = static_cast<size_t>(-1);
  std::unordered_set<std::string> seen = {Upper(name)};
  std::vector<Dependent> out;
  std::vector<Frame> stack = {{&dependents_of(name), 0, kQueried, Runtime()}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.dependents->size()) {
      if (top.service != kQueried) out.push_back({all[top.service], top.runtime});
      stack.pop_back();
      continue;
    }
    size_t i = (*top.dependents)[top.next++];
    const Config& config = all[i];
    if (seen.count(Upper(config.name))) continue;
    Runtime runtime = LoadRuntime(config.name);
    DWORD kind = runtime.state == SERVICE_STOPPED ? SERVICE_INACTIVE : SERVICE_ACTIVE;
    if (!(state_mask & kind)) continue;
    seen.insert(Upper(config.name));
    stack.push_back({&dependents_of(config.name), 0, i, runtime});
  }
  return out;
}

SERVICE_STATUS MakeStatus(const Config& config, const Runtime& runtime) {
  SERVICE_STATUS status = {};
  status.dwServiceType = config.type;
  status.dwCurrentState = runtime.state;
  status.dwControlsAccepted = runtime.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  if (runtime.state == SERVICE_START_PENDING || runtime.state == SERVICE_STOP_PENDING) {
    int64_t left = runtime.until_ms - NowMs();
    status.dwCheckPoint = 1;
    status.dwWaitHint = left > 0 ? static_cast<DWORD>(left) : 0;
  }
  return status;
}

std::string DriverImageWindowsPath(const Config& config) {
  // The kernel loads drivers against the system's own root, whatever the
  // calling process's environment says about SystemRoot.
  std::string root = GetSetting("system-root", "C:\\WINDOWS");
  // A driver without ImagePath is loaded from the drivers directory by name.
  std::string image = config.image.empty() ? "System32\\drivers\\" + config.name + ".sys" : config.image;
  if (StartsWithNoCase(image, "\\??\\")) return image.substr(4);
  if (StartsWithNoCase(image, "\\SystemRoot\\")) return root + image.substr(11);
  if (StartsWithNoCase(image, "%SystemRoot%\\")) return root + image.substr(12);
  if (image.size() >= 2 && image[1] == ':') return image;
  // Rooted without a drive: on the system drive.
  if (image[0] == '\\') return root.substr(0, 2) + image;
  return root + "\\" + image;
}

bool DriverImageHostPath(const Config& config, std::string* host_path) {
  return TranslatePath(DriverImageWindowsPath(config), host_path);
}

}  // namespace emu::svc

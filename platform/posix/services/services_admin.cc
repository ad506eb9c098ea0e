// The machine administrator's view of the service database, as sc and a
// reboot give it on Windows: define and remove services with behaviours,
// read their state, reboot; and the running drivers' images for the files.
#include <unistd.h>

#include <algorithm>

#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/posix/services/services_db.h"

namespace emu {
namespace {

bool SetSz(int64_t key, const std::string& name, const std::string& text, uint32_t type) {
  return store::SetValue(key, name, type, text + '\0');
}

bool SetOrDeleteSz(int64_t key, const std::string& name, const std::string& text) {
  if (text.empty()) {
    store::DeleteValue(key, name);
    return true;
  }
  return SetSz(key, name, text, REG_SZ);
}

// The state and the behaviour carry the same names in a ServiceSpec, the
// runtime row and the administrator's ServiceInfo.
template <typename From, typename To>
void CopyStateAndBehaviour(const From& from, To* to) {
  to->state = from.state;
  to->start_ms = from.start_ms;
  to->stop_ms = from.stop_ms;
  to->start_fails = from.start_fails;
  to->refuse_stop = from.refuse_stop;
  to->stop_lag_ms = from.stop_lag_ms;
}

admin::ServiceInfo MakeInfo(const svc::Config& config, const svc::Runtime& runtime) {
  admin::ServiceInfo info;
  info.name = config.name;
  info.display = config.display;
  info.type = config.type;
  info.start_type = config.start_type;
  info.error_control = config.error_control;
  info.image = config.image;
  info.group = config.group;
  info.depends = config.depends;
  CopyStateAndBehaviour(runtime, &info);
  info.marked_for_delete = runtime.marked_delete;
  info.stop_held = runtime.lag_until_ms.has_value();
  return info;
}

bool Failed(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

// Boot drivers first, then system drivers, then automatic services, each
// kind in name order.
std::vector<svc::Config> AutoStartOrder() {
  std::vector<svc::Config> order;
  for (uint32_t start = SERVICE_BOOT_START; start <= SERVICE_AUTO_START; ++start)
    for (const svc::Config& config : svc::AllServices())
      if (config.start_type == start && (start == SERVICE_AUTO_START || svc::IsDriverType(config.type)))
        order.push_back(config);
  return order;
}

}  // namespace

std::vector<std::string> RunningDriverImages() {
  std::vector<std::string> images;
  Transaction tx;
  for (const svc::Config& config : svc::AllServices()) {
    std::string host;
    if (svc::IsDriverType(config.type) && svc::LoadRuntime(config.name).state != SERVICE_STOPPED &&
        svc::DriverImageHostPath(config, &host))
      images.push_back(host);
  }
  tx.Commit();
  return images;
}

namespace admin {

bool DefineService(const ServiceSpec& spec, std::string* error) {
  if (!svc::IsValidServiceName(spec.name))
    return Failed(error, "invalid service name '" + spec.name + "' (1 to 256 characters, no slashes)");
  if (spec.state < SERVICE_STOPPED || spec.state > SERVICE_RUNNING)
    return Failed(error, "invalid state " + std::to_string(spec.state) + " (1 stopped to 4 running)");
  if (spec.start_type > SERVICE_DISABLED || (!spec.driver && spec.start_type < SERVICE_AUTO_START))
    return Failed(error, "invalid start type " + std::to_string(spec.start_type) +
                             " (0 boot and 1 system are for drivers; 2 auto, 3 demand, 4 disabled)");
  if (spec.start_ms < 0 || spec.stop_ms < 0) return Failed(error, "pending times cannot be negative");
  Transaction tx;
  if (!tx.ok()) return Failed(error, "the machine's database is busy");
  int64_t key = store::CreateKey(svc::ServicesKey(), spec.name, "");
  // "+name" entries name load order groups, which Windows keeps apart.
  std::string services, groups;
  for (const std::string& dependency : spec.depends) {
    if (dependency.empty()) continue;
    if (dependency[0] == svc::kGroupPrefix)
      groups += dependency.substr(1) + '\0';
    else
      services += dependency + '\0';
  }
  bool ok = key != store::kNoKey &&
            store::SetDword(key, "Type", spec.driver ? SERVICE_KERNEL_DRIVER : SERVICE_WIN32_OWN_PROCESS) &&
            store::SetDword(key, "Start", spec.start_type) && store::SetDword(key, "ErrorControl", SERVICE_ERROR_NORMAL);
  if (ok && !spec.image.empty()) ok = SetSz(key, "ImagePath", spec.image, REG_EXPAND_SZ);
  if (ok && spec.image.empty()) store::DeleteValue(key, "ImagePath");
  ok = ok && SetSz(key, "DisplayName", spec.display.empty() ? spec.name : spec.display, REG_SZ) &&
       SetOrDeleteSz(key, "Group", spec.group);
  for (const auto& [value, list] : {std::pair<const char*, std::string>{"DependOnService", services},
                                    std::pair<const char*, std::string>{"DependOnGroup", groups}}) {
    if (ok && !list.empty()) ok = store::SetValue(key, value, REG_MULTI_SZ, list + '\0');
    if (ok && list.empty()) store::DeleteValue(key, value);
  }
  if (ok) store::DeleteValue(key, "DeleteFlag");
  svc::Runtime runtime;
  CopyStateAndBehaviour(spec, &runtime);
  if (spec.state == SERVICE_START_PENDING) runtime.until_ms = NowMs() + spec.start_ms;
  if (spec.state == SERVICE_STOP_PENDING) runtime.until_ms = NowMs() + spec.stop_ms;
  if (!ok || !svc::SaveRuntime(spec.name, runtime) || !tx.Commit())
    return Failed(error, "cannot write service " + spec.name);
  return true;
}

bool WouldDependOnItself(const std::string& name, const std::vector<std::string>& depends) {
  return svc::WouldDependOnItself(name, depends);
}

bool RemoveServiceDefinition(const std::string& name, std::string* error) {
  if (svc::FindServiceKey(name) == store::kNoKey) return Failed(error, "no service named " + name);
  return svc::EraseService(name) || Failed(error, "cannot remove service " + name);
}

bool QueryService(const std::string& name, ServiceInfo* info, std::string* error) {
  Transaction tx;
  svc::Config config;
  // Looking may finish the deletion of a marked service: that is kept.
  int64_t key = svc::ServiceExists(name) ? svc::FindServiceKey(name) : store::kNoKey;
  bool found = key != store::kNoKey && svc::ReadConfig(key, &config);
  if (found) *info = MakeInfo(config, svc::LoadRuntime(name));
  tx.Commit();
  return found || Failed(error, "no service named " + name);
}

std::vector<ServiceInfo> ListServices() {
  std::vector<ServiceInfo> list;
  Transaction tx;
  for (const svc::Config& config : svc::AllServices())
    if (svc::ServiceExists(config.name)) list.push_back(MakeInfo(config, svc::LoadRuntime(config.name)));
  tx.Commit();
  return list;
}

bool RebootServices(std::string* error) {
  Transaction tx;
  if (!tx.ok()) return Failed(error, "the machine's database is busy");
  // Every process is gone, so are their handles; services marked for
  // deletion (by the manager, or by a DeleteFlag in their key) go with them.
  for (const svc::Config& config : svc::AllServices()) {
    uint32_t flag = 0;
    int64_t key = svc::FindServiceKey(config.name);
    bool flagged = store::GetDword(key, "DeleteFlag", &flag) && flag != 0;
    if ((flagged || svc::LoadRuntime(config.name).marked_delete) && !svc::EraseService(config.name))
      return Failed(error, "cannot delete service " + config.name);
  }
  Statement handles(Db(), "DELETE FROM service_handles");
  // A stop that a service had accepted but not begun dies with it.
  Statement states(Db(), "UPDATE services SET state=1, until_ms=0, marked_delete=0, lag_until_ms=NULL");
  if (!handles.Run() || !states.Run()) return Failed(error, "cannot reset the service states");
  // A service that cannot start (a driver without its image, a failing
  // dependency) stays stopped; the boot goes on, as Windows' does.
  for (const svc::Config& config : AutoStartOrder()) svc::StartService(config.name);
  return tx.Commit() || Failed(error, "cannot save the service states");
}

int64_t OpenServiceHandleCount() {
  Statement st(Db(), "SELECT COUNT(*) FROM service_handles WHERE pid=?1");
  st.Bind(1, static_cast<int64_t>(getpid()));
  return st.Step() == SQLITE_ROW ? st.Int(0) : -1;
}

}  // namespace admin
}  // namespace emu

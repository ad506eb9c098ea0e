// Start and stop requests as the manager carries them out: a start brings up
// the service's dependencies first, a driver needs its image file, and each
// service moves through its pending state for as long as its behaviour says;
// a service may accept a stop and go on running for a while (or for ever)
// before its stop-pending time begins.
#include <sys/stat.h>

#include <algorithm>

#include "platform/posix/admin.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/posix/services/services_db.h"

namespace emu::svc {
namespace {

bool InChain(const std::vector<std::string>& chain, const std::string& name) {
  for (const std::string& entry : chain)
    if (entry == Upper(name)) return true;
  return false;
}

// What a missing driver image makes the kernel answer: the file is not there,
// or its directory is not.
DWORD CheckDriverImage(const Config& config) {
  std::string host;
  if (!DriverImageHostPath(config, &host)) return ERROR_PATH_NOT_FOUND;
  struct stat st;
  if (stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return ERROR_SUCCESS;
  size_t slash = host.rfind('/');
  std::string dir = slash == std::string::npos ? "." : host.substr(0, slash);
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD StartOne(const std::string& name, std::vector<std::string>* chain, int64_t* ready_ms);

// After its start was asked for, whether a dependency is or will be running,
// and from when.
bool WillRun(const std::string& name, int64_t* ready_ms) {
  Runtime runtime = LoadRuntime(name);
  if (runtime.state == SERVICE_RUNNING) {
    *ready_ms = NowMs();
    return true;
  }
  if (runtime.state == SERVICE_START_PENDING && !runtime.start_fails) {
    *ready_ms = runtime.until_ms;
    return true;
  }
  return false;
}

// One DependOnService entry. A named service must exist and come up; a
// "+group" entry is met when any member of the group comes up.
DWORD StartDependency(const std::string& dependency, std::vector<std::string>* chain, int64_t* ready_ms) {
  if (dependency[0] != kGroupPrefix) {
    if (InChain(*chain, dependency)) return ERROR_CIRCULAR_DEPENDENCY;
    if (!ServiceExists(dependency) || LoadRuntime(dependency).marked_delete) return ERROR_SERVICE_DEPENDENCY_DELETED;
    DWORD error = StartOne(dependency, chain, ready_ms);
    if (error == ERROR_CIRCULAR_DEPENDENCY) return error;
    if (error != ERROR_SUCCESS && error != ERROR_SERVICE_ALREADY_RUNNING) return ERROR_SERVICE_DEPENDENCY_FAIL;
    return WillRun(dependency, ready_ms) ? ERROR_SUCCESS : ERROR_SERVICE_DEPENDENCY_FAIL;
  }
  std::string group = dependency.substr(1);
  bool met = false;
  int64_t earliest = 0;
  for (const Config& member : AllServices()) {
    if (!EqualsNoCase(member.group, group) || InChain(*chain, member.name)) continue;
    int64_t member_ready = 0;
    DWORD error = StartOne(member.name, chain, &member_ready);
    if ((error == ERROR_SUCCESS || error == ERROR_SERVICE_ALREADY_RUNNING) && WillRun(member.name, &member_ready)) {
      earliest = met ? std::min(earliest, member_ready) : member_ready;
      met = true;
    }
  }
  *ready_ms = earliest;
  return met ? ERROR_SUCCESS : ERROR_SERVICE_DEPENDENCY_FAIL;
}

DWORD StartOne(const std::string& name, std::vector<std::string>* chain, int64_t* ready_ms) {
  Config config;
  int64_t key = FindServiceKey(name);
  if (key == store::kNoKey || !ReadConfig(key, &config)) return ERROR_SERVICE_DOES_NOT_EXIST;
  Runtime runtime = LoadRuntime(name);
  if (runtime.marked_delete) return ERROR_SERVICE_MARKED_FOR_DELETE;
  if (config.start_type == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;
  int64_t now = NowMs();
  if (runtime.state != SERVICE_STOPPED) {
    *ready_ms = runtime.state == SERVICE_START_PENDING ? runtime.until_ms : now;
    return ERROR_SERVICE_ALREADY_RUNNING;
  }
  // The service begins its own start once every dependency runs; those
  // started here stay running even when a later step fails, as on Windows.
  int64_t ready = now;
  chain->push_back(Upper(name));
  for (const std::string& dependency : config.depends) {
    if (dependency.empty()) continue;
    int64_t dependency_ready = now;
    DWORD error = StartDependency(dependency, chain, &dependency_ready);
    if (error != ERROR_SUCCESS) {
      chain->pop_back();
      return error;
    }
    ready = std::max(ready, dependency_ready);
  }
  chain->pop_back();
  if (IsDriverType(config.type)) {
    DWORD error = CheckDriverImage(config);
    if (error != ERROR_SUCCESS) return error;
  }
  if (ready == now && runtime.start_ms <= 0) {
    // A service that fails during its start is accepted, then found stopped.
    runtime.state = runtime.start_fails ? SERVICE_STOPPED : SERVICE_RUNNING;
    runtime.until_ms = 0;
  } else {
    runtime.state = SERVICE_START_PENDING;
    runtime.until_ms = ready + std::max<int64_t>(runtime.start_ms, 0);
  }
  *ready_ms = runtime.state == SERVICE_START_PENDING ? runtime.until_ms : now;
  return SaveRuntime(name, runtime) ? ERROR_SUCCESS : ERROR_SERVICE_DATABASE_LOCKED;
}

}  // namespace

DWORD StartService(const std::string& name) {
  std::vector<std::string> chain;
  int64_t ready_ms = 0;
  return StartOne(name, &chain, &ready_ms);
}

DWORD StopService(const std::string& name) {
  Runtime runtime = LoadRuntime(name);
  // Windows refuses to stop a service while a service that depends on it is active.
  if (!Dependents(name, SERVICE_ACTIVE).empty()) return ERROR_DEPENDENT_SERVICES_RUNNING;
  if (runtime.state == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  // A pending service accepts no controls until it settles.
  if (runtime.state != SERVICE_RUNNING) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if (runtime.refuse_stop != 0) return runtime.refuse_stop;
  // A service that accepted a stop and still runs gets the control again, as
  // Windows delivers it, and accepts it again; it goes on with the stop it
  // has begun, so the lag is not restarted.
  if (runtime.lag_until_ms) return ERROR_SUCCESS;
  if (runtime.stop_lag_ms != 0) {
    runtime.lag_until_ms = runtime.stop_lag_ms < 0 ? kLagNeverEnds : NowMs() + runtime.stop_lag_ms;
    return SaveRuntime(name, runtime) ? ERROR_SUCCESS : ERROR_SERVICE_DATABASE_LOCKED;
  }
  if (runtime.stop_ms <= 0) {
    runtime.state = SERVICE_STOPPED;
    runtime.until_ms = 0;
  } else {
    runtime.state = SERVICE_STOP_PENDING;
    runtime.until_ms = NowMs() + runtime.stop_ms;
  }
  return SaveRuntime(name, runtime) ? ERROR_SUCCESS : ERROR_SERVICE_DATABASE_LOCKED;
}

}  // namespace emu::svc

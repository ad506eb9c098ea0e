// The emulated service database, shared by the Win32 service calls, the
// admin functions and the reboot. A service's configuration is its key under
// SYSTEM\CurrentControlSet\Services, read through the registry store so that
// fault rules on the registry calls never reach the manager; its runtime
// state and behaviour are a row of the services table, keyed by the
// upper-cased name. States move lazily: every read applies the clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/win32_api.h"

namespace emu::svc {

constexpr char kServicesKeyPath[] = "SYSTEM\\CurrentControlSet\\Services";
// Windows' limit on a service name (and display name), in characters.
constexpr size_t kMaxServiceNameLength = 256;
// A DependOnService entry that names a load order group, not a service.
constexpr char kGroupPrefix = '+';

struct Config {
  std::string name;     // the key name, as stored
  std::string display;  // DisplayName, else the name
  uint32_t type = SERVICE_WIN32_OWN_PROCESS;
  uint32_t start_type = SERVICE_DEMAND_START;
  uint32_t error_control = SERVICE_ERROR_NORMAL;
  std::string image;
  std::string group;
  std::vector<std::string> depends;  // DependOnService, then DependOnGroup as "+group"
};

// The lag end of a hung service: its accepted stop never begins.
constexpr int64_t kLagNeverEnds = INT64_MAX;

struct Runtime {
  uint32_t state = SERVICE_STOPPED;
  int64_t until_ms = 0;  // when a pending state ends
  int64_t start_ms = 0;
  int64_t stop_ms = 0;
  bool start_fails = false;
  uint32_t refuse_stop = 0;
  bool marked_delete = false;
  // How long the service goes on reporting running after it accepted a
  // stop, before its stop-pending time begins; negative: for ever (hung).
  int64_t stop_lag_ms = 0;
  // Set while an accepted stop is held back: when the lag ends
  // (kLagNeverEnds for a hung service).
  std::optional<int64_t> lag_until_ms;
};

bool IsDriverType(uint32_t type);
// Windows' rule for a service name: not empty, no slashes, at most 256 characters.
bool IsValidServiceName(const std::string& name);

// The Services key (created when missing).
int64_t ServicesKey();
// The key of an existing service: the subkey exists and has a Type value.
int64_t FindServiceKey(const std::string& name);
bool ReadConfig(int64_t key, Config* config);
// Every service's configuration, in the registry's (case-insensitive) order.
std::vector<Config> AllServices();
// True when a service of this name depending on these would end up depending
// on itself (ERROR_CIRCULAR_DEPENDENCY); load order groups never close a loop.
bool WouldDependOnItself(const std::string& name, const std::vector<std::string>& depends);

// The runtime row with the clock applied (a default stopped row when none
// exists yet); a lag or pending state that has run out is written back.
Runtime LoadRuntime(const std::string& name);
bool SaveRuntime(const std::string& name, const Runtime& runtime);

// True while the service exists. A service marked for deletion goes here,
// key and row, once it is stopped and no live process holds a handle to it.
bool ServiceExists(const std::string& name);
bool FinalizeIfDeletable(const std::string& name);
// Removes key, runtime row and handle rows at once (admin and reboot).
bool EraseService(const std::string& name);

// Open handles in live processes; rows of dead processes are dropped.
// The row of a handle opened on a machine opened for reading only, which
// has none in the database.
constexpr int64_t kReaderHandleRow = -1;
int64_t AddHandleRow(const std::string& name);
void RemoveHandleRow(int64_t row);
int LiveHandleCount(const std::string& name);

// Starts a stopped service, its dependencies first. Returns the Win32 error
// of the request (ERROR_SUCCESS when accepted).
DWORD StartService(const std::string& name);
// A stop request as ControlService(SERVICE_CONTROL_STOP) makes it.
DWORD StopService(const std::string& name);

struct Dependent {
  Config config;
  Runtime runtime;
};
// The services that depend on name, directly or through others, whose state
// matches the SERVICE_ACTIVE / SERVICE_INACTIVE mask, in the order Windows
// documents for EnumDependentServices: the reverse of the start order, so a
// dependent's own dependents come before it (the deepest first), and
// dependents of one level in the registry's name order. Each service appears
// once, however many paths lead to it; the walk goes on only through
// services of the asked-for states.
std::vector<Dependent> Dependents(const std::string& name, DWORD state_mask);

// The SERVICE_STATUS a status read reports for a service in that state.
SERVICE_STATUS MakeStatus(const Config& config, const Runtime& runtime);

// The Windows path of a driver's image as the kernel resolves ImagePath
// ("System32\drivers\x.sys" and "\SystemRoot\..." against the Windows
// directory, "\??\C:\..." and "C:\..." as they are), and its host path.
std::string DriverImageWindowsPath(const Config& config);
bool DriverImageHostPath(const Config& config, std::string* host_path);

}  // namespace emu::svc

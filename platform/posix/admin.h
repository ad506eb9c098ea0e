// Administration of an emulated machine, as regedit, reg, sc and a reboot do
// it on Windows: what the machine tool and the tests use to set a machine up
// and to read its state. Each function is implemented by the emulation part
// named beside it. Failures return false with a one-line reason in *error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu::admin {

// regfile.cc: imports a .reg file's text ("Windows Registry Editor Version
// 5.00" or "REGEDIT4"), with regedit's deletion lines. Only HKEY_LOCAL_MACHINE
// (or HKLM) keys. All or nothing: on a malformed line nothing is changed and
// *error names the line.
bool ImportRegText(const std::string& text, std::string* error);
// regfile.cc: exports key_path (below HKEY_LOCAL_MACHINE; "" for the whole
// tree; a "HKEY_LOCAL_MACHINE\" or "HKLM\" prefix is accepted) and its subtree
// in the "Windows Registry Editor Version 5.00" format, as regedit writes it.
bool ExportRegText(const std::string& key_path, std::string* text, std::string* error);

// regfile_parse.cc: true when path (below HKEY_LOCAL_MACHINE) is a key a .reg
// import takes: not empty, every name 1 to 255 characters (no empty or
// doubled separator). Otherwise false with the reason in *why, naming shown.
bool CheckKeyPath(const std::string& path, const std::string& shown, std::string* why);

struct ServiceSpec {
  std::string name;
  std::string display;       // empty: the name
  bool driver = false;       // SERVICE_KERNEL_DRIVER, else SERVICE_WIN32_OWN_PROCESS
  std::string image;         // ImagePath; drivers resolve it against the Windows directory
  std::vector<std::string> depends;  // DependOnService
  uint32_t start_type = 3;   // SERVICE_DEMAND_START
  std::string group;
  uint32_t state = 1;        // SERVICE_STOPPED..SERVICE_RUNNING
  int64_t start_ms = 0;      // time spent start-pending
  int64_t stop_ms = 0;       // time spent stop-pending
  bool start_fails = false;  // a start ends stopped instead of running
  uint32_t refuse_stop = 0;  // nonzero: a stop request fails with this error
  // After accepting a stop, time it goes on reporting running before its
  // stop_ms of stop-pending begin; negative: it never stops (hung). A
  // further stop request meanwhile is accepted and changes nothing.
  int64_t stop_lag_ms = 0;
};

struct ServiceInfo {
  std::string name;
  std::string display;
  uint32_t type = 0;
  uint32_t start_type = 0;
  uint32_t error_control = 0;
  std::string image;
  std::string group;
  std::vector<std::string> depends;
  uint32_t state = 0;  // the current state, time applied
  bool marked_for_delete = false;
  int64_t start_ms = 0, stop_ms = 0;
  bool start_fails = false;
  uint32_t refuse_stop = 0;
  int64_t stop_lag_ms = 0;
  bool stop_held = false;  // a stop was accepted and the service still runs
};

// services.cc
bool DefineService(const ServiceSpec& spec, std::string* error);
bool RemoveServiceDefinition(const std::string& name, std::string* error);
bool QueryService(const std::string& name, ServiceInfo* info, std::string* error);
std::vector<ServiceInfo> ListServices();
// True when display is another service's name or display name (case
// ignored), which CreateServiceA refuses (ERROR_DUPLICATE_SERVICE_NAME).
bool DisplayNameTaken(const std::string& display);
// True when a service of this name with these dependencies would depend on
// itself, which Windows refuses (ERROR_CIRCULAR_DEPENDENCY).
bool WouldDependOnItself(const std::string& name, const std::vector<std::string>& depends);
// services.cc: a reboot of the service database: marked services go,
// runtime states are cleared, automatic-start services are started.
bool RebootServices(std::string* error);

// machine_admin.cc (calls the two above in Windows' order: pending file
// operations first, then the services).
bool Reboot(std::string* error);

}  // namespace emu::admin

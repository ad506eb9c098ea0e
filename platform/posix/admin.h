// Administration of an emulated machine, as regedit, reg, sc and a reboot do
// it on Windows: what the machine tool, the tests and the benchmarks use to
// set a machine up and to read its state, without reaching into the tables
// of its database. Each function is implemented by the emulation part named
// beside it. Failures return false with a one-line reason in *error.
// Opening a machine is platform/posix/machine.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The machine's own parts that setting a machine up reaches: its clock, its
// settings, its fault rules and the way it compares names. The emulation's
// parts use them as well, from here.
namespace emu {

// machine/clock.cc: the machine's clock, real or virtual. On a virtual clock
// time only moves by Sleep (or AdvanceClock), which then returns at once; on
// a real clock it is the wall clock.
bool IsVirtualClock();
int64_t NowMs();
void AdvanceClock(int64_t ms);

// machine/settings.cc: key/value text in the machine's database (the clock,
// the Windows directory, the user's locale, call counting).
std::string GetSetting(const std::string& name, const std::string& fallback = "");
bool SetSetting(const std::string& name, const std::string& value);

// machine/faults.cc: fault rules and the call trace. The n-th matching call
// of a named Win32 operation fails with a Win32 error ("once"), or that call
// and every later one ("always"). match is the key path, value name, file
// path, service name or command line of the call; a rule's match text must
// occur in it, ignoring case (an empty rule text matches every call). The
// emulated calls consult the rules through machine/fault_check.h.
//
// The error of a fault rule that stands for a crash: the process that makes
// the matching call kills itself there (SIGKILL), as a power cut or a killed
// installer would end it, so tests can prove what a run interrupted at any
// call leaves behind. Hits of a settled rule that the process had counted
// but not yet written back are lost with it.
constexpr uint32_t kFaultCrashHere = 0xDEAD0009u;

struct FaultRuleInfo {
  int64_t id;
  std::string operation;  // an operation name, or "*" for every operation
  std::string match;
  uint32_t error;
  int64_t nth;
  bool always;
  int64_t hits;
};
bool AddFaultRule(const std::string& operation, const std::string& match, uint32_t error, int64_t nth, bool always);
std::vector<FaultRuleInfo> ListFaultRules();
// Removes every rule and every call count.
bool ClearFaultRules();

// Calls counted per operation while the setting "count-calls" is "1".
std::vector<std::pair<std::string, int64_t>> CallCounts();
bool ResetCallCounts();

// In-process call trace for tests: while set, every call that consults the
// fault rules appends "<operation> <match>" to the vector, so a test can
// assert the order of the platform calls (for example that a service handle
// is closed before its manager handle).
void SetCallTrace(std::vector<std::string>* trace);

// machine/case_fold.cc: case folding, as the registry, the services and the
// file system compare names: a valid UTF-8 name by Unicode's simple upper
// case (Latin, Greek, Cyrillic), any other as code page 1252 bytes.
std::string Upper(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace emu

namespace emu::admin {

// machine/machine_admin.cc: the admin calls made while one lives go into the
// database as one transaction, committed by Commit (rolled back otherwise),
// as a setup that writes many keys or services at once wants.
// Not copyable: it owns its open transaction.
class Batch {
 public:
  Batch();
  ~Batch();
  bool ok() const;
  bool Commit();

 private:
  struct Open;
  std::unique_ptr<Open> open_;
};

// machine/machine_admin.cc: how sound the machine's database is.
struct DatabaseCheck {
  std::string integrity;         // SQLite's integrity check: "ok", else its findings joined by "; "
  int64_t orphan_values = 0;     // values whose key is gone
  int64_t orphan_keys = 0;       // keys whose parent is gone
};
DatabaseCheck CheckDatabase();

// machine/machine_admin.cc: calls hook(context) at every commit of this
// process's connection to the machine (nullptr: no more calls), so a
// benchmark can count the commits an operation makes.
void SetCommitHook(int (*hook)(void* context), void* context);

// Registry keys, by their path below HKEY_LOCAL_MACHINE ("" for the hive),
// read and written as reg and regedit do: without the Win32 calls, so fault
// rules and call counts see none of it. Each write is one transaction.
struct RegValue {
  std::string name;  // as first written (case preserved)
  uint32_t type = 0;
  std::string data;  // the exact bytes stored
};
struct RegKey {
  std::string path;                  // as stored (the case it was created with)
  std::string key_class;             // the class text it was created with
  std::vector<RegValue> values;      // in the order they were first written
  std::vector<std::string> subkeys;  // names in case-insensitive order
};
// registry/registry_admin.cc
bool KeyExists(const std::string& path);
// false when the key is absent.
bool ReadKey(const std::string& path, RegKey* key);
// false when the key or the value is absent.
bool ReadValue(const std::string& path, const std::string& name, RegValue* value);
// A string value's text without the one terminator it may be stored with;
// "" when the key or the value is absent.
std::string ReadString(const std::string& path, const std::string& name);
// Creates the key and every missing one above it (with that class when new).
bool CreateKey(const std::string& path, const std::string& key_class = "");
// Creates the key when missing and sets the value.
bool SetValue(const std::string& path, const std::string& name, uint32_t type, const std::string& data);
enum class Removal { kDone, kMissing, kFailed };
// The key with everything below it.
Removal DeleteKeyTree(const std::string& path);
Removal DeleteValue(const std::string& path, const std::string& name);
Removal DeleteAllValues(const std::string& path);

// Handles this process holds open, so a test can prove that every path
// closed what it opened: registry keys (HKEY_LOCAL_MACHINE itself not
// counted; registry/registry_handles.cc), kernel handles of files,
// processes and threads (kernel/kernel_handles.cc), service and manager
// handles (services/services_admin.cc).
int64_t OpenRegistryHandleCount();
size_t OpenKernelHandleCount();
int64_t OpenServiceHandleCount();

// Files of the machine. kernel/paths.cc: the host path of a Windows path
// ("C:\WINDOWS"), false when it has none. kernel/files.cc: true for the name
// of a copy still being written, which is not yet a file of the machine.
bool HostPath(const std::string& windows_path, std::string* host_path);
bool IsCopyInProgressName(const std::string& name);

// regfile/regfile.cc: imports a .reg file's text ("Windows Registry Editor Version
// 5.00" or "REGEDIT4"), with regedit's deletion lines. Only HKEY_LOCAL_MACHINE
// (or HKLM) keys. All or nothing: on a malformed line nothing is changed and
// *error names the line.
bool ImportRegText(const std::string& text, std::string* error);
// regfile/regfile.cc: exports key_path (below HKEY_LOCAL_MACHINE; "" for the whole
// tree; a "HKEY_LOCAL_MACHINE\" or "HKLM\" prefix is accepted) and its subtree
// in the "Windows Registry Editor Version 5.00" format, as regedit writes it.
bool ExportRegText(const std::string& key_path, std::string* text, std::string* error);

// regfile/regfile_parse.cc: true when path (below HKEY_LOCAL_MACHINE) is a key a .reg
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

// services/services_admin.cc
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
// services/services_admin.cc: a reboot of the service database: marked services go,
// runtime states are cleared, automatic-start services are started.
bool RebootServices(std::string* error);

// machine/machine_admin.cc (calls the two above in Windows' order: pending file
// operations first, then the services).
bool Reboot(std::string* error);

}  // namespace emu::admin

#include "tools/sc_format.h"

#include "tools/tool.h"
#include "tools/win32_errors.h"

namespace machine_tool {
namespace {

// Labels are padded to 19 columns and indented by 8, as sc lays them out.
std::string Field(const char* label, const std::string& value) {
  std::string line = Format("        %-19s:", label);
  // An empty field ends at its colon; nothing trails on the line.
  return line + (value.empty() ? "" : " " + value) + "\n";
}

// Names by value, as sc spells them.
template <size_t N>
const char* NameOf(const char* const (&names)[N], DWORD value) {
  return value < N && names[value] ? names[value] : "UNKNOWN";
}

const char* const kStateNames[] = {nullptr,   "STOPPED",          "START_PENDING", "STOP_PENDING",
                                   "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
const char* const kStartTypeNames[] = {"BOOT_START", "SYSTEM_START", "AUTO_START", "DEMAND_START", "DISABLED"};
const char* const kErrorControlNames[] = {"IGNORE", "NORMAL", "SEVERE", "CRITICAL"};

std::string TypeText(DWORD type) {
  DWORD kind = type & ~0x100u;  // without SERVICE_INTERACTIVE_PROCESS
  std::string name = kind == SERVICE_KERNEL_DRIVER         ? "KERNEL_DRIVER"
                     : kind == SERVICE_FILE_SYSTEM_DRIVER  ? "FILE_SYSTEM_DRIVER"
                     : kind == SERVICE_WIN32_OWN_PROCESS   ? "WIN32_OWN_PROCESS"
                     : kind == SERVICE_WIN32_SHARE_PROCESS ? "WIN32_SHARE_PROCESS"
                                                           : "WIN32";
  if (type & 0x100u) name += " (interactive)";
  return Format("%x  %s", static_cast<unsigned>(type), name.c_str());
}

}  // namespace

SERVICE_STATUS StatusOfService(const emu::admin::ServiceInfo& info) {
  SERVICE_STATUS status = {};
  status.dwServiceType = info.type;
  status.dwCurrentState = info.state;
  status.dwControlsAccepted = info.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  // A pending service reports progress (its first checkpoint) and how long
  // it expects to take, as the emulated SCM's QueryServiceStatus does.
  if (info.state == SERVICE_START_PENDING || info.state == SERVICE_STOP_PENDING) {
    status.dwCheckPoint = 1;
    status.dwWaitHint = static_cast<DWORD>(info.state == SERVICE_START_PENDING ? info.start_ms : info.stop_ms);
  }
  return status;
}

std::string FormatStatus(const std::string& name, const std::string* display, const SERVICE_STATUS& status) {
  std::string text = "\nSERVICE_NAME: " + name + "\n";
  if (display) text += "DISPLAY_NAME: " + *display + "\n";
  text += Field("TYPE", TypeText(status.dwServiceType));
  text += Field("STATE", Format("%u  %s", static_cast<unsigned>(status.dwCurrentState),
                                NameOf(kStateNames, status.dwCurrentState)));
  // A stopped service accepts nothing, and sc then leaves the line out. The
  // emulated services neither pause nor take part in shutdown.
  if (status.dwCurrentState != SERVICE_STOPPED) {
    const char* stop = (status.dwControlsAccepted & SERVICE_ACCEPT_STOP) ? "STOPPABLE" : "NOT_STOPPABLE";
    text += Format("%32s(%s, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n", "", stop);
  }
  text += Field("WIN32_EXIT_CODE", Format("%u  (0x%x)", static_cast<unsigned>(status.dwWin32ExitCode),
                                          static_cast<unsigned>(status.dwWin32ExitCode)));
  text += Field("SERVICE_EXIT_CODE", Format("%u  (0x%x)", static_cast<unsigned>(status.dwServiceSpecificExitCode),
                                            static_cast<unsigned>(status.dwServiceSpecificExitCode)));
  text += Field("CHECKPOINT", Format("0x%x", static_cast<unsigned>(status.dwCheckPoint)));
  text += Field("WAIT_HINT", Format("0x%x", static_cast<unsigned>(status.dwWaitHint)));
  return text;
}

std::string FormatConfig(const emu::admin::ServiceInfo& info) {
  std::string text = "[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: " + info.name + "\n";
  text += Field("TYPE", TypeText(info.type));
  text += Field("START_TYPE",
                Format("%u   %s", static_cast<unsigned>(info.start_type), NameOf(kStartTypeNames, info.start_type)));
  text += Field("ERROR_CONTROL", Format("%u   %s", static_cast<unsigned>(info.error_control),
                                        NameOf(kErrorControlNames, info.error_control)));
  text += Field("BINARY_PATH_NAME", info.image);
  text += Field("LOAD_ORDER_GROUP", info.group);
  text += Field("TAG", "0");
  text += Field("DISPLAY_NAME", info.display.empty() ? info.name : info.display);
  // Further dependencies go on lines of their own, under the first.
  text += Field("DEPENDENCIES", info.depends.empty() ? "" : info.depends[0]);
  for (size_t i = 1; i < info.depends.size(); ++i) text += Format("%27s: %s\n", "", info.depends[i].c_str());
  // Drivers run in the kernel; every other emulated service as LocalSystem,
  // the account CreateService gives when none is named.
  bool driver = info.type == SERVICE_KERNEL_DRIVER || info.type == SERVICE_FILE_SYSTEM_DRIVER;
  text += Field("SERVICE_START_NAME", driver ? "" : "LocalSystem");
  return text;
}

std::string FormatScFailure(const std::string& what, DWORD code) {
  return Format("[SC] %s FAILED %u:\n\n%s\n\n", what.c_str(), static_cast<unsigned>(code), ErrorMessage(code).c_str());
}

}  // namespace machine_tool

// Service texts laid out as Windows' sc prints them: the status block of
// "sc query", the configuration of "sc qc" and sc's failure lines.
#pragma once

#include <string>

#include "platform/posix/admin.h"
#include "platform/win32.h"

namespace machine_tool {

// The status a service reports, as the emulated SCM would report it:
// running services accept a stop, pending ones nothing, and a pending
// state shows its first checkpoint and, as wait hint, the time the service
// takes for it.
SERVICE_STATUS StatusOfService(const emu::admin::ServiceInfo& info);

// A blank line, "SERVICE_NAME: ...", "DISPLAY_NAME: ..." unless display is
// null, then TYPE, STATE (with the accepted controls unless stopped),
// WIN32_EXIT_CODE, SERVICE_EXIT_CODE, CHECKPOINT and WAIT_HINT.
std::string FormatStatus(const std::string& name, const std::string* display, const SERVICE_STATUS& status);
// "[SC] QueryServiceConfig SUCCESS" and the configuration block.
std::string FormatConfig(const emu::admin::ServiceInfo& info);
// "[SC] <what> FAILED <code>:", a blank line, the system's message and a
// blank line.
std::string FormatScFailure(const std::string& what, DWORD code);

}  // namespace machine_tool

// service start / stop: the emulated Service Control Manager driven through
// the Win32 calls, as sc drives the real one, so a start or stop here
// behaves exactly as it does for the tool (fault rules included).
#include <cstdio>

#include "platform/handles.h"
#include "tools/sc_format.h"
#include "tools/tool.h"

namespace machine_tool {
namespace {

// sc's failure lines go to standard output; a missing service is a query
// that found nothing, any other refusal the machine saying no.
int ReportScFailure(const std::string& what, DWORD code) {
  printf("%s", FormatScFailure(what, code).c_str());
  return code == ERROR_SERVICE_DOES_NOT_EXIST ? kExitUsage : kExitFailed;
}

bool OneName(const std::string& command, const Args& args) {
  if (args.size() == 1 && !args[0].empty() && !IsOption(args[0])) return true;
  Fail("'service " + command + "' needs one service name");
  return false;
}

}  // namespace

int RunServiceStart(const Context& ctx, const Args& args) {
  if (!OneName("start", args) || !OpenExistingMachine(ctx)) return kExitUsage;
  ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ReportScFailure("OpenSCManager", GetLastError());
  ScopedService service(OpenServiceA(manager.Get(), args[0].c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service) return ReportScFailure("StartService: OpenService", GetLastError());
  if (!StartServiceA(service.Get(), 0, nullptr)) return ReportScFailure("StartService", GetLastError());
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service.Get(), &status)) return ReportScFailure("QueryServiceStatus", GetLastError());
  // sc start reports the extended status; an emulated service has no process.
  printf("%s", (FormatStatus(args[0], nullptr, status) + "        PID                : 0\n" +
                "        FLAGS              :\n")
                   .c_str());
  return kExitOk;
}

int RunServiceStop(const Context& ctx, const Args& args) {
  if (!OneName("stop", args) || !OpenExistingMachine(ctx)) return kExitUsage;
  ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ReportScFailure("OpenSCManager", GetLastError());
  ScopedService service(OpenServiceA(manager.Get(), args[0].c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) return ReportScFailure("OpenService", GetLastError());
  SERVICE_STATUS status = {};
  if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
    return ReportScFailure("ControlService", GetLastError());
  printf("%s", FormatStatus(args[0], nullptr, status).c_str());
  return kExitOk;
}

}  // namespace machine_tool

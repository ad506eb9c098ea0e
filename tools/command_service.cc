// service add / remove / list / query / qc: defining services and reading
// them back in sc's layout, without going through the emulated SCM's calls
// (so fault rules and call counts see none of it). start and stop are in
// command_service_control.cc.
#include <cstdio>

#include "platform/posix/admin.h"
#include "tools/sc_format.h"
#include "tools/tool.h"

namespace machine_tool {

int RunServiceStart(const Context& ctx, const Args& args);
int RunServiceStop(const Context& ctx, const Args& args);

namespace {

namespace admin = emu::admin;

struct Word {
  const char* word;
  uint32_t value;
};
const Word kStartTypes[] = {{"boot", SERVICE_BOOT_START},
                            {"system", SERVICE_SYSTEM_START},
                            {"auto", SERVICE_AUTO_START},
                            {"demand", SERVICE_DEMAND_START},
                            {"disabled", SERVICE_DISABLED}};
const Word kStates[] = {{"stopped", SERVICE_STOPPED},
                        {"start-pending", SERVICE_START_PENDING},
                        {"stop-pending", SERVICE_STOP_PENDING},
                        {"running", SERVICE_RUNNING}};

template <size_t N>
bool LookUp(const Word (&words)[N], const std::string& text, uint32_t* value) {
  for (const Word& entry : words) {
    if (text == entry.word) {
      *value = entry.value;
      return true;
    }
  }
  return false;
}

// Windows refuses service names with either slash, and empty ones.
bool ValidServiceName(const std::string& name) {
  return !name.empty() && name.size() <= 256 && name.find_first_of("\\/") == std::string::npos && !IsOption(name);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

// Reads the options of "service add" into spec; false after printing why.
bool ParseServiceOptions(const Args& args, admin::ServiceSpec* spec) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--driver") {
      spec->driver = true;
      continue;
    }
    if (option == "--start-fails") {
      spec->start_fails = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      Fail(IsOption(option) ? "'service add " + option + "' needs a value"
                            : "unexpected argument '" + option + "' for 'service add'");
      return false;
    }
    const std::string& value = args[++i];
    uint64_t number = 0;
    DWORD code = 0;
    bool ok = true;
    if (option == "--display") {
      spec->display = value;
    } else if (option == "--image") {
      spec->image = value;
    } else if (option == "--group") {
      spec->group = value;
    } else if (option == "--depends") {
      spec->depends = SplitList(value);
      for (const std::string& name : spec->depends) ok = ok && ValidServiceName(name);
    } else if (option == "--start") {
      ok = LookUp(kStartTypes, value, &spec->start_type);
    } else if (option == "--state") {
      ok = LookUp(kStates, value, &spec->state);
    } else if (option == "--start-ms" || option == "--stop-ms") {
      ok = ParseNumber(value, 0xFFFFFFFFu, &number);
      (option == "--start-ms" ? spec->start_ms : spec->stop_ms) = static_cast<int64_t>(number);
    } else if (option == "--stop-lag-ms") {
      // "never": the service accepts a stop and hangs, running for ever.
      ok = value == "never" || ParseNumber(value, 0xFFFFFFFFu, &number);
      spec->stop_lag_ms = value == "never" ? -1 : static_cast<int64_t>(number);
    } else if (option == "--refuse-stop") {
      ok = ParseErrorCode(value, &code) && code != 0;
      spec->refuse_stop = code;
    } else {
      Fail("unknown option '" + option + "' for 'service add'");
      return false;
    }
    if (!ok) {
      Fail("bad value '" + value + "' for 'service add " + option + "'");
      return false;
    }
  }
  return true;
}

int RunServiceAdd(const Context& ctx, const Args& args) {
  if (args.empty() || !ValidServiceName(args[0])) return Fail("'service add' needs a service name first");
  admin::ServiceSpec spec;
  spec.name = args[0];
  if (!ParseServiceOptions(args, &spec)) return kExitUsage;
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  admin::ServiceInfo existing;
  std::string error;
  // Redefining in place would mix two services' states; say so instead.
  if (admin::QueryService(spec.name, &existing, &error))
    return Fail("service " + existing.name + " already exists (remove it first)");
  if (!spec.display.empty() && admin::DisplayNameTaken(spec.display))
    return Fail("display name '" + spec.display + "' is another service's name or display name (error 1078)");
  if (admin::WouldDependOnItself(spec.name, spec.depends))
    return Fail("service " + spec.name + " would depend on itself (circular dependency, error 1059)");
  if (!admin::DefineService(spec, &error)) return Fail(error);
  return kExitOk;
}

// The one-name commands: the name, and nothing after it.
bool OneServiceName(const std::string& command, const Args& args) {
  if (args.size() == 1 && ValidServiceName(args[0])) return true;
  Fail("'service " + command + "' needs one service name");
  return false;
}

int RunServiceRemove(const Context& ctx, const Args& args) {
  if (!OneServiceName("remove", args) || !OpenExistingMachine(ctx)) return kExitUsage;
  admin::ServiceInfo info;
  std::string error;
  if (!admin::QueryService(args[0], &info, &error)) return Fail("no service " + args[0]);
  if (!admin::RemoveServiceDefinition(info.name, &error)) return Fail(error);
  return kExitOk;
}

std::string StatusWithDisplay(const admin::ServiceInfo& info) {
  std::string display = info.display.empty() ? info.name : info.display;
  return FormatStatus(info.name, &display, StatusOfService(info));
}

// One existing service as `format` prints it, or sc's failure of
// `failed_call` when there is no such service.
int PrintService(const char* command, const char* failed_call, std::string (*format)(const admin::ServiceInfo&),
                 const Context& ctx, const Args& args) {
  if (!OneServiceName(command, args) || !OpenExistingMachine(ctx)) return kExitUsage;
  admin::ServiceInfo info;
  std::string error;
  if (!admin::QueryService(args[0], &info, &error)) {
    printf("%s", FormatScFailure(failed_call, ERROR_SERVICE_DOES_NOT_EXIST).c_str());
    return kExitUsage;
  }
  printf("%s", format(info).c_str());
  return kExitOk;
}

int RunServiceQuery(const Context& ctx, const Args& args) {
  return PrintService("query", "EnumQueryServicesStatus:OpenService", StatusWithDisplay, ctx, args);
}

int RunServiceQc(const Context& ctx, const Args& args) {
  return PrintService("qc", "OpenService", FormatConfig, ctx, args);
}

int RunServiceList(const Context& ctx, const Args& args) {
  if (!args.empty()) return Fail("'service list' takes no arguments");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  for (const admin::ServiceInfo& info : admin::ListServices()) printf("%s", StatusWithDisplay(info).c_str());
  return kExitOk;
}

}  // namespace

int RunService(const Context& ctx, const Args& args) {
  return RunSubcommand("service",
                       {{"add", RunServiceAdd},
                        {"remove", RunServiceRemove},
                        {"list", RunServiceList},
                        {"query", RunServiceQuery},
                        {"qc", RunServiceQc},
                        {"start", RunServiceStart},
                        {"stop", RunServiceStop}},
                       ctx, args);
}

}  // namespace machine_tool

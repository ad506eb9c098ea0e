// fault add / list / clear, and calls on / off / show: the fault rules of
// the machine and the count of platform calls that fault-matrix tests use
// to find how many calls there are to fail.
#include <cstdio>

#include "platform/posix/admin.h"
#include "tools/tool.h"
#include "tools/win32_errors.h"

namespace machine_tool {
namespace {

// Default error of a rule: the refusal every Win32 call can meet.
constexpr DWORD kDefaultFaultError = ERROR_ACCESS_DENIED;

// The calls of the emulation that consult the fault rules: the Win32 calls
// the tool makes. A misspelt name would make a rule that never fires, so
// only these are taken.
const char* const kOperations[] = {
    "RegOpenKeyExA",      "RegCreateKeyExA",
    "RegQueryValueExA",   "RegSetValueExA",
    "RegEnumKeyExA",      "RegEnumValueA",
    "RegDeleteKeyA",      "RegDeleteValueA",
    "RegCloseKey",        "ExpandEnvironmentStringsA",
    "OpenSCManagerA",     "OpenServiceA",
    "QueryServiceStatus", "ControlService",
    "StartServiceA",      "EnumDependentServicesA",
    "CreateServiceA",     "DeleteService",
    "CloseServiceHandle", "QueryServiceConfigA",
    "CreateFileA",
    "GetFileTime",        "SetFileTime",
    "GetFileSize",
    "CompareFileTime",    "CloseHandle",
    "GetFileAttributesA", "SetFileAttributesA",
    "CopyFileA",          "DeleteFileA",
    "MoveFileA",          "MoveFileExA",
    "CreateDirectoryA",   "GetStartupInfoA",
    "CreateProcessA",     "WaitForSingleObject",
    "GetExitCodeProcess", "TerminateProcess",
    "CreateMutexA",
};

// The operation's name as the emulation spells it ("*" for every call);
// false for a name it does not know.
bool KnownOperation(const std::string& name, std::string* canonical) {
  if (name == "*") {
    *canonical = name;
    return true;
  }
  for (const char* operation : kOperations) {
    if (emu::EqualsNoCase(name, operation)) {
      *canonical = operation;
      return true;
    }
  }
  return false;
}

int RunFaultAdd(const Context& ctx, const Args& args) {
  if (args.empty() || IsOption(args[0]))
    return Fail("'fault add' needs an operation first: a Win32 call name such as RegOpenKeyExA, or *");
  std::string operation;
  if (!KnownOperation(args[0], &operation))
    return Fail("unknown operation '" + args[0] + "' (see 'mevrid-machine help' for the list)");
  std::string match;
  DWORD error = kDefaultFaultError;
  uint64_t nth = 1;
  bool always = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--always") {
      always = true;
      continue;
    }
    if (option != "--match" && option != "--error" && option != "--nth")
      return Fail("unknown option '" + option + "' for 'fault add'");
    if (i + 1 >= args.size()) return Fail("'fault add " + option + "' needs a value");
    const std::string& value = args[++i];
    if (option == "--match") {
      match = value;
    } else if (option == "--error") {
      if (!ParseErrorCode(value, &error) || error == 0)
        return Fail("bad error code '" + value + "' (a nonzero number or a name such as ERROR_ACCESS_DENIED)");
    } else if (!ParseNumber(value, INT64_MAX, &nth) || nth == 0) {
      return Fail("bad call number '" + value + "' (1 is the first matching call)");
    }
  }
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  if (!emu::AddFaultRule(operation, match, error, static_cast<int64_t>(nth), always))
    return Fail("cannot store the fault rule");
  return kExitOk;
}

std::string RuleText(const emu::FaultRuleInfo& rule) {
  const char* name = ErrorName(rule.error);
  std::string error = name ? Format("%u (%s)", static_cast<unsigned>(rule.error), name)
                           : Format("%u", static_cast<unsigned>(rule.error));
  std::string match = rule.match.empty() ? "(any)" : "\"" + rule.match + "\"";
  std::string calls = rule.always ? Format("calls %lld and later fail", static_cast<long long>(rule.nth))
                                  : Format("call %lld fails", static_cast<long long>(rule.nth));
  return Format("#%lld %s %s: %s with %s; %lld matching calls so far\n", static_cast<long long>(rule.id),
                rule.operation.c_str(), match.c_str(), calls.c_str(), error.c_str(), static_cast<long long>(rule.hits));
}

int RunFaultList(const Context& ctx, const Args& args) {
  if (!args.empty()) return Fail("'fault list' takes no arguments");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  for (const emu::FaultRuleInfo& rule : emu::ListFaultRules()) printf("%s", RuleText(rule).c_str());
  return kExitOk;
}

int RunFaultClear(const Context& ctx, const Args& args) {
  if (!args.empty()) return Fail("'fault clear' takes no arguments");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  return emu::ClearFaultRules() ? kExitOk : Fail("cannot clear the fault rules");
}

}  // namespace

int RunFault(const Context& ctx, const Args& args) {
  return RunSubcommand("fault", {{"add", RunFaultAdd}, {"list", RunFaultList}, {"clear", RunFaultClear}}, ctx, args);
}

int RunCalls(const Context& ctx, const Args& args) {
  std::string sub = args.empty() ? "show" : args[0];
  if (args.size() > 1) return Fail("'calls' takes one word: on, off or show");
  if (sub != "on" && sub != "off" && sub != "show") return Fail("unknown word 'calls " + sub + "' (on, off or show)");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  if (sub == "show") {
    for (const auto& [operation, count] : emu::CallCounts())
      printf("%s %lld\n", operation.c_str(), static_cast<long long>(count));
    return kExitOk;
  }
  if (sub == "on") {
    // Counting starts afresh, so the counts are those of the runs that follow.
    if (!emu::ResetCallCounts()) return Fail("cannot reset the call counts");
  }
  return emu::SetSetting("count-calls", sub == "on" ? "1" : "0") ? kExitOk : Fail("cannot change count-calls");
}

}  // namespace machine_tool

// The machine itself: init, the clock, the locale and Windows directory
// settings, the restart and the console log of the pre-processors.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "tools/tool.h"

namespace machine_tool {
namespace {

bool MachineExists(const std::string& dir) {
  struct stat st;
  return stat((dir + "/machine.db").c_str(), &st) == 0;
}

// A command that takes no arguments at all.
bool NoArguments(const std::string& command, const Args& args) {
  if (args.empty()) return true;
  Fail("'" + command + "' takes no arguments, got '" + args[0] + "'");
  return false;
}

// A setting shown by "NAME" and changed by "NAME VALUE".
int ShowOrSetSetting(const Context& ctx, const Args& args, const std::string& command, const char* setting) {
  if (args.size() > 1) return Fail("'" + command + "' takes at most one value, got '" + args[1] + "'");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  if (args.empty()) {
    printf("%s\n", emu::GetSetting(setting).c_str());
    return kExitOk;
  }
  if (!emu::SetSetting(setting, args[0])) return Fail(std::string("cannot write the setting ") + setting);
  return kExitOk;
}

}  // namespace

int RunInit(const Context& ctx, const Args& args) {
  bool virtual_clock = false;
  for (const std::string& arg : args) {
    if (arg == "--virtual-clock")
      virtual_clock = true;
    else
      return Fail("unknown argument '" + arg + "' for 'init' (only --virtual-clock)");
  }
  bool existed = MachineExists(ctx.machine_dir);
  std::string error;
  if (!emu::OpenMachine(ctx.machine_dir, true, &error)) return Fail(error);
  // An existing machine keeps its clock unless a switch is asked for, so a
  // repeated init never disturbs a machine in use.
  if (virtual_clock && !emu::SetSetting("clock", "virtual")) return Fail("cannot switch the clock");
  const char* clock = emu::IsVirtualClock() ? "virtual" : "real";
  if (existed)
    printf("Emulated machine already at %s (%s clock)\n", emu::MachineDirectory().c_str(), clock);
  else
    printf("Created an emulated machine at %s (%s clock)\n", emu::MachineDirectory().c_str(), clock);
  return kExitOk;
}

int RunClock(const Context& ctx, const Args& args) {
  if (args.size() > 1) return Fail("'clock' takes at most one word: virtual or real");
  if (!args.empty() && args[0] != "virtual" && args[0] != "real")
    return Fail("unknown clock '" + args[0] + "' (virtual or real)");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  if (args.empty()) {
    printf("%s\n", emu::IsVirtualClock() ? "virtual" : "real");
    return kExitOk;
  }
  if (!emu::SetSetting("clock", args[0])) return Fail("cannot switch the clock");
  return kExitOk;
}

int RunTime(const Context& ctx, const Args& args) {
  if (!NoArguments("time", args) || !OpenExistingMachine(ctx)) return kExitUsage;
  // The virtual time is shown even while the clock is real: it is where the
  // virtual clock resumes.
  printf("%lld\n", strtoll(emu::GetSetting("virtual-now-ms", "0").c_str(), nullptr, 10));
  return kExitOk;
}

int RunAdvance(const Context& ctx, const Args& args) {
  uint64_t ms = 0;
  if (args.size() != 1) return Fail("'advance' needs one number of milliseconds");
  if (!ParseNumber(args[0], INT64_MAX / 2, &ms)) return Fail("not a number of milliseconds: '" + args[0] + "'");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  // On a real clock the services follow the wall clock, so moving the
  // virtual one would silently do nothing.
  if (!emu::IsVirtualClock()) return Fail("the machine's clock is real; switch it with 'clock virtual' first");
  emu::AdvanceClock(static_cast<int64_t>(ms));
  return kExitOk;
}

int RunLocale(const Context& ctx, const Args& args) { return ShowOrSetSetting(ctx, args, "locale", "user-locale"); }

int RunSystemRoot(const Context& ctx, const Args& args) {
  return ShowOrSetSetting(ctx, args, "systemroot", "system-root");
}

int RunReboot(const Context& ctx, const Args& args) {
  if (!NoArguments("reboot", args) || !OpenExistingMachine(ctx)) return kExitUsage;
  std::string error;
  if (!emu::admin::Reboot(&error)) {
    fprintf(stderr, "mevrid-machine: reboot failed: %s\n", error.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int RunConsoleLog(const Context& ctx, const Args& args) {
  if (!NoArguments("console-log", args) || !OpenExistingMachine(ctx)) return kExitUsage;
  // No log yet means no pre-processor has run on this machine.
  std::ifstream log(emu::MachineDirectory() + "/console.log", std::ios::binary);
  if (!log) return kExitOk;
  std::ostringstream text;
  text << log.rdbuf();
  fwrite(text.str().data(), 1, text.str().size(), stdout);
  return kExitOk;
}

}  // namespace machine_tool

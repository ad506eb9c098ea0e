// Entry of mevrid-machine: the global options, then one command.
#include <cstdio>
#include <cstring>

#include "platform/posix/machine.h"
#include "tools/tool.h"

namespace machine_tool {
namespace {

using Handler = int (*)(const Context&, const Args&);

struct Command {
  const char* name;
  Handler run;
};

const Command kCommands[] = {
    {"init", RunInit},
    {"reg", RunReg},
    {"service", RunService},
    {"fault", RunFault},
    {"calls", RunCalls},
    {"clock", RunClock},
    {"time", RunTime},
    {"advance", RunAdvance},
    {"locale", RunLocale},
    {"systemroot", RunSystemRoot},
    {"reboot", RunReboot},
    {"files", RunFiles},
    {"console-log", RunConsoleLog},
};

enum class MachineOption { NotIt, Taken, Bad };

// "--machine DIR" or "--machine=DIR" at argv[*i]; on Taken, *i is left on
// the option's last word.
MachineOption TakeMachineOption(int argc, char** argv, int* i, std::string* machine_dir) {
  const std::string arg = argv[*i];
  if (arg == "--machine") {
    if (*i + 1 >= argc || argv[*i + 1][0] == '\0') return MachineOption::Bad;
    *machine_dir = argv[++*i];
    return MachineOption::Taken;
  }
  if (arg.rfind("--machine=", 0) != 0) return MachineOption::NotIt;
  *machine_dir = arg.substr(strlen("--machine="));
  return machine_dir->empty() ? MachineOption::Bad : MachineOption::Taken;
}

int Main(int argc, char** argv) {
  Context ctx;
  // --machine is a global option, so it is taken after the command's name
  // too ("init --machine DIR"); no command has an argument of that spelling.
  // Before the name, any other word starting with '-' is an unknown option.
  std::string name;
  bool named = false;
  Args args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!named && (arg == "--help" || arg == "-h")) {
      PrintHelp();
      return kExitOk;
    }
    MachineOption option = TakeMachineOption(argc, argv, &i, &ctx.machine_dir);
    if (option == MachineOption::Bad) return Fail("--machine needs a directory");
    if (option == MachineOption::Taken) continue;
    if (named) {
      args.push_back(arg);
    } else if (arg[0] == '-') {
      return Fail("unknown option '" + arg + "' (see 'mevrid-machine help')");
    } else {
      name = arg;
      named = true;
    }
  }
  if (!named) return Fail("no command given (see 'mevrid-machine help')");
  if (name == "help") {
    PrintHelp();
    return kExitOk;
  }
  // The default covers $MEVRID_MACHINE, as every emulated call sees it.
  if (ctx.machine_dir.empty()) ctx.machine_dir = emu::DefaultMachineDir();
  for (const Command& command : kCommands) {
    if (name == command.name) {
      int status = command.run(ctx, args);
      emu::CloseMachine();
      return status;
    }
  }
  return Fail("unknown command '" + name + "' (see 'mevrid-machine help')");
}

}  // namespace
}  // namespace machine_tool

int main(int argc, char** argv) { return machine_tool::Main(argc, argv); }

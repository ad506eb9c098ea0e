// mevrid-machine: the administration tool of an emulated machine, as regedit,
// reg, sc and a restart are on Windows. Each command lives in a file of its
// own (command_*.cc); this header is what they share.
//
// Every command first checks all of its arguments and only then opens the
// machine, so bad input never changes anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace machine_tool {

// Exit statuses.
constexpr int kExitOk = 0;
// The machine refused an operation (a Win32 error from the emulated SCM, a
// failed restart): the request was valid, the machine said no.
constexpr int kExitFailed = 1;
// Bad input, a missing machine, or a query that found nothing.
constexpr int kExitUsage = 2;

using Args = std::vector<std::string>;

struct Context {
  std::string machine_dir;  // --machine, else $MEVRID_MACHINE, else the per-user default
};

// Prints "mevrid-machine: <message>" on standard error; returns kExitUsage,
// or kExitFailed after ": disk full" when a write just failed for want of
// space.
int Fail(const std::string& message);
// Opens the existing machine of ctx (never creates one); prints the reason
// and returns false when there is none.
bool OpenExistingMachine(const Context& ctx);

// A subcommand ("reg import"): its name and what runs it with the words
// after it.
struct Subcommand {
  const char* name;
  int (*run)(const Context& ctx, const Args& args);
};
// Runs the subcommand of `command` that args[0] names; fails naming the
// choices, in their order ("add, list or clear"), when none or another is
// given.
int RunSubcommand(const std::string& command, const std::vector<Subcommand>& subcommands, const Context& ctx,
                  const Args& args);

// A whole decimal number, or hexadecimal with "0x", no larger than max.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value);
// A Win32 error code: a number or a name such as "ERROR_ACCESS_DENIED".
bool ParseErrorCode(const std::string& text, DWORD* code);
// True when text begins with "--" (an option of the machine tool's own).
bool IsOption(const std::string& text);

// A printf into a std::string.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The commands. args are the words after the command's name.
int RunInit(const Context& ctx, const Args& args);
int RunReg(const Context& ctx, const Args& args);
int RunService(const Context& ctx, const Args& args);
int RunFault(const Context& ctx, const Args& args);
int RunCalls(const Context& ctx, const Args& args);
int RunClock(const Context& ctx, const Args& args);
int RunTime(const Context& ctx, const Args& args);
int RunAdvance(const Context& ctx, const Args& args);
int RunLocale(const Context& ctx, const Args& args);
int RunSystemRoot(const Context& ctx, const Args& args);
int RunReboot(const Context& ctx, const Args& args);
int RunFiles(const Context& ctx, const Args& args);
int RunConsoleLog(const Context& ctx, const Args& args);
// The help text, on standard output.
void PrintHelp();

}  // namespace machine_tool

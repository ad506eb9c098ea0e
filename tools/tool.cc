// What the commands of the machine tool share.
#include "tools/tool.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/machine.h"
#include "tools/win32_errors.h"

namespace machine_tool {

int Fail(const std::string& message) {
  // A write the full disk refused is no bad input: it says so and fails.
  bool disk_full = emu::LastFailureWasDiskFull();
  fprintf(stderr, "mevrid-machine: %s%s\n", message.c_str(), disk_full ? ": disk full" : "");
  fflush(stderr);
  return disk_full ? kExitFailed : kExitUsage;
}

bool OpenExistingMachine(const Context& ctx) {
  std::string error;
  if (emu::OpenMachine(ctx.machine_dir, false, &error)) return true;
  Fail(error);
  return false;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (errno != 0 || end == nullptr || *end != '\0' || parsed > max) return false;
  *value = parsed;
  return true;
}

bool ParseErrorCode(const std::string& text, DWORD* code) {
  uint64_t number = 0;
  if (ParseNumber(text, 0xFFFFFFFFu, &number)) {
    *code = static_cast<DWORD>(number);
    return true;
  }
  return ErrorCodeOfName(text, code);
}

int RunSubcommand(const std::string& command, const std::vector<Subcommand>& subcommands, const Context& ctx,
                  const Args& args) {
  std::string choices;
  for (size_t i = 0; i < subcommands.size(); ++i)
    choices += (i == 0 ? "" : i + 1 == subcommands.size() ? " or " : ", ") + std::string(subcommands[i].name);
  if (args.empty()) return Fail("'" + command + "' needs a subcommand: " + choices);
  for (const Subcommand& subcommand : subcommands)
    if (args[0] == subcommand.name) return subcommand.run(ctx, Args(args.begin() + 1, args.end()));
  return Fail("unknown subcommand '" + command + " " + args[0] + "' (" + choices + ")");
}

bool IsOption(const std::string& text) { return text.size() > 2 && text[0] == '-' && text[1] == '-'; }

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int size = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

}  // namespace machine_tool

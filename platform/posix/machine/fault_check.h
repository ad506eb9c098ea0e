// The fault rules as the emulated calls consult them (see faults.h).
#pragma once

#include <string>

#include "platform/posix/win32_api.h"

namespace emu {

// Counts the call (while "count-calls" is on), records it in the call trace,
// and returns the error a matching rule makes it fail with, or 0.
DWORD CheckFault(const char* operation, const std::string& match);

// The rules are read again at the next check (after a setting or a rule
// changed).
void ReloadFaultRules();
// Writes back the hits counted in memory and forgets the rules, before the
// machine's connection closes.
void ForgetFaultRules();

}  // namespace emu

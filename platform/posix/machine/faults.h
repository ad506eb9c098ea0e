// Fault rules and the call trace, as tests and the machine tool set them:
// the n-th matching call of a named Win32 operation fails with a Win32 error
// ("once"), or that call and every later one ("always"). match is the key
// path, value name, file path, service name or command line of the call; a
// rule's match text must occur in it, ignoring case (an empty rule text
// matches every call). The emulated calls consult the rules through
// fault_check.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace emu {

// The error of a fault rule that stands for a crash: the process that makes
// the matching call kills itself there (SIGKILL), as a power cut or a killed
// installer would end it, so tests can prove what a run interrupted at any
// call leaves behind. Hits of a settled rule that the process had counted
// but not yet written back are lost with it.
constexpr uint32_t kFaultCrashHere = 0xDEAD0009u;

struct FaultRuleInfo {
  int64_t id;
  std::string operation;  // an operation name, or "*" for every operation
  std::string match;
  uint32_t error;
  int64_t nth;
  bool always;
  int64_t hits;
};
bool AddFaultRule(const std::string& operation, const std::string& match, uint32_t error, int64_t nth, bool always);
std::vector<FaultRuleInfo> ListFaultRules();
// Removes every rule and every call count.
bool ClearFaultRules();

// Calls counted per operation while the setting "count-calls" is "1".
std::vector<std::pair<std::string, int64_t>> CallCounts();
bool ResetCallCounts();

// In-process call trace for tests: while set, every call that consults the
// fault rules appends "<operation> <match>" to the vector, so a test can
// assert the order of the platform calls (for example that a service handle
// is closed before its manager handle).
void SetCallTrace(std::vector<std::string>* trace);

}  // namespace emu

// The command line as hostile input: the fuzz input is split at NUL bytes
// into arguments, parsed, validated, and the modes that end without touching
// the component (the no-op, the usage text, the agent modes) are run whole.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/option_parser.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {

// What every parse must give, whatever the arguments.
void CheckOptions(const RunOptions& options) {
  if (memchr(options.ReferenceName, '\0', sizeof options.ReferenceName) == nullptr) abort();
  if (memchr(options.PreProcImage, '\0', sizeof options.PreProcImage) == nullptr) abort();
  for (const char* c = options.ReferenceName; *c; ++c)
    if (*c >= 'a' && *c <= 'z') abort();  // the name is upper-cased
  if (options.Verbose > 1 || options.Begin > 1 || options.End > 1 || options.OverOlder > 1 || options.Remove > 1)
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::UseFuzzMachine();
  std::vector<std::string> args{"mevrid.exe"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (size > 0) args.push_back(current);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  RunOptions options;
  ParseOutcome outcome = ParseCommandLine(argc, argv.data(), &options);
  if (outcome != ParseOutcome::Run) {
    // The no-op and the usage text: the whole entry point, which must agree.
    if (RunMevrid(argc, argv.data()) != (outcome == ParseOutcome::NoOp ? 0 : 1)) abort();
    return 0;
  }
  CheckOptions(options);
  const bool valid = IsValidReferenceRequest(options);
  if (valid && strlen(options.ReferenceName) > static_cast<size_t>(kMaxReferenceName)) abort();
  // The agent modes and a refused request end without installing anything.
  if (options.End || options.Begin || !valid) {
    int status = RunMevrid(argc, argv.data());
    if (status != 0 && status != 1) abort();
  }
  return 0;
}

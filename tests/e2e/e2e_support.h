// End-to-end helpers: a fresh emulated machine (virtual clock unless asked
// otherwise) with a private copy of the release directory, from which the
// built tool is run as a user runs it: "mevrid.exe" in the current directory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/win32.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"
#include "tests/support/usage_text.h"

namespace e2e {

struct ToolRun {
  int status = -1;
  std::string out;  // standard output, whole
  std::string err;  // standard error (the tool writes none)
};

class ReleaseMachine {
 public:
  explicit ReleaseMachine(bool virtual_clock = true);
  ~ReleaseMachine();
  ReleaseMachine(const ReleaseMachine&) = delete;
  ReleaseMachine& operator=(const ReleaseMachine&) = delete;

  testsupport::TestMachine& machine() { return machine_; }
  const std::string& release_dir() const { return release_; }

  // Runs the release copy of the tool with these arguments, in the release
  // directory; argv[0] is "mevrid.exe", so the usage text names it so.
  ToolRun Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) const;

  // Service set-up and state; a failure fails the test.
  void DefineService(const emu::admin::ServiceSpec& spec) const;
  void RemoveService(const std::string& name) const;
  // The current state of a service, or 0 when it does not exist.
  uint32_t StateOf(const std::string& name) const;
  bool ServiceExists(const std::string& name) const;
  void AddFault(const std::string& operation, const std::string& match, uint32_t error, int64_t nth = 1,
                bool always = false) const;
  // The registry as a .reg text, for "nothing was touched" comparisons.
  std::string Registry() const { return machine_.Export(); }

 private:
  testsupport::TestMachine machine_;
  std::string work_;
  std::string release_;
};

// The usage text, naming the program as it was invoked.
inline std::string UsageText(const std::string& program = "mevrid.exe") { return testsupport::UsageText(program); }

// A service definition in one line: name, state, display text.
using testsupport::Service;

}  // namespace e2e

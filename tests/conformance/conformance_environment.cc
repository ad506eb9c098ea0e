// On POSIX the conformance tests run against the emulation, which needs a
// machine: one fresh machine in a temporary directory for the whole binary,
// with a virtual clock (a Sleep advances it at once), MEVRID_MACHINE naming
// it for child processes and "SystemRoot" taken out of the environment so the
// machine's own C:\WINDOWS applies. It is created before the first test and
// removed after the last. On Windows the tests use the real system as it is.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/test_machine.h"

namespace {

class EmulatedMachineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { machine_ = std::make_unique<testsupport::TestMachine>(); }
  void TearDown() override { machine_.reset(); }

 private:
  std::unique_ptr<testsupport::TestMachine> machine_;
};

[[maybe_unused]] ::testing::Environment* const kMachine =
    ::testing::AddGlobalTestEnvironment(new EmulatedMachineEnvironment);

}  // namespace

#endif  // _WIN32

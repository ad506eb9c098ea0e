// Shared set-up of the service unit tests: a fresh machine on a virtual
// clock, services defined with their behaviours, the standard output of an
// operation captured, and the emulated calls traced.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/admin.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"

namespace servicetest {

// Effectively forever for a test: no wait of the tool gets there.
constexpr int64_t kForeverMs = 1000LL * 1000 * 1000;

using testsupport::DependsOn;
using testsupport::Service;

struct Outcome {
  Flag result = 0xFFFF;
  std::string out;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { emu::SetCallTrace(&trace_); }
  void TearDown() override { emu::SetCallTrace(nullptr); }

  void Define(const emu::admin::ServiceSpec& spec) {
    std::string error;
    ASSERT_TRUE(emu::admin::DefineService(spec, &error)) << error;
  }
  DWORD StateOf(const std::string& name) {
    emu::admin::ServiceInfo info;
    std::string error;
    EXPECT_TRUE(emu::admin::QueryService(name, &info, &error)) << error;
    return info.state;
  }
  void Fail(const std::string& operation, const std::string& match, DWORD error, int64_t nth = 1,
            bool always = false) {
    ASSERT_TRUE(emu::AddFaultRule(operation, match, error, nth, always));
  }

  // Runs an operation with standard output captured and the trace cleared.
  Outcome Run(const std::function<Flag()>& operation) {
    trace_.clear();
    start_ms_ = machine_.NowMs();
    Outcome outcome;
    testing::internal::CaptureStdout();
    outcome.result = operation();
    outcome.out = testing::internal::GetCapturedStdout();
    return outcome;
  }
  long long ElapsedMs() const { return machine_.NowMs() - start_ms_; }

  // Trace lines of one operation, e.g. every "ControlService ..." call.
  std::vector<std::string> Calls(const std::string& operation) const {
    std::vector<std::string> calls;
    for (const std::string& line : trace_)
      if (line.rfind(operation + " ", 0) == 0) calls.push_back(line);
    return calls;
  }
  // Position of the first trace line equal to line, or -1.
  long Index(const std::string& line) const {
    auto it = std::find(trace_.begin(), trace_.end(), line);
    return it == trace_.end() ? -1 : static_cast<long>(it - trace_.begin());
  }
  // Every handle opened is closed: as many successful opens as closes. An
  // open that a fault rule or a missing service refused leaves no handle, so
  // the closes are compared with the opens minus the failures the test knows.
  void ExpectBalanced(int failed_opens = 0) const {
    size_t opens = Calls("OpenSCManagerA").size() + Calls("OpenServiceA").size() + Calls("CreateServiceA").size();
    EXPECT_EQ(Calls("CloseServiceHandle").size() + failed_opens, opens);
  }

  testsupport::TestMachine machine_;
  std::vector<std::string> trace_;
  long long start_ms_ = 0;
};

}  // namespace servicetest

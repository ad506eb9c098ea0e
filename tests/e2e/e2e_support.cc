#include "tests/e2e/e2e_support.h"

#include "platform/posix/admin.h"

namespace e2e {

ReleaseMachine::ReleaseMachine(bool virtual_clock) : machine_(virtual_clock) {
  work_ = testsupport::MakeTempDir("mevrid-e2e");
  release_ = testsupport::MakeReleaseCopy(work_);
}

ReleaseMachine::~ReleaseMachine() { testsupport::RemoveTree(work_); }

ToolRun ReleaseMachine::Run(const std::vector<std::string>& args, const std::vector<std::string>& env) const {
  // A name without a directory: execv finds it in the working directory,
  // and the tool sees the name a user would type.
  std::vector<std::string> argv{"mevrid.exe"};
  argv.insert(argv.end(), args.begin(), args.end());
  testsupport::ProcessResult result = testsupport::RunProgram(argv, release_, env);
  return {result.status, result.out, result.err};
}

void ReleaseMachine::DefineService(const emu::admin::ServiceSpec& spec) const {
  std::string error;
  EXPECT_TRUE(emu::admin::DefineService(spec, &error)) << spec.name << ": " << error;
}

void ReleaseMachine::RemoveService(const std::string& name) const {
  std::string error;
  EXPECT_TRUE(emu::admin::RemoveServiceDefinition(name, &error)) << name << ": " << error;
}

uint32_t ReleaseMachine::StateOf(const std::string& name) const {
  emu::admin::ServiceInfo info;
  std::string error;
  return emu::admin::QueryService(name, &info, &error) ? info.state : 0;
}

bool ReleaseMachine::ServiceExists(const std::string& name) const {
  emu::admin::ServiceInfo info;
  std::string error;
  return emu::admin::QueryService(name, &info, &error);
}

void ReleaseMachine::AddFault(const std::string& operation, const std::string& match, uint32_t error, int64_t nth,
                              bool always) const {
  EXPECT_TRUE(emu::AddFaultRule(operation, match, error, nth, always));
}

}  // namespace e2e

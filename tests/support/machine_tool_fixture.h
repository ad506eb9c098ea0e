// Tests of mevrid-machine run the built tool as an administrator would, on a
// machine in a fresh temporary directory, and compare its exact output and
// exit status; the machine's state is read back in-process through the
// emulation's own store.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/machine.h"
#include "tests/support/test_machine.h"

namespace machine_tool_test {

class MachineToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testsupport::MakeTempDir("mevrid-tool");
    dir_ = root_ + "/machine";
  }
  void TearDown() override {
    emu::CloseMachine();
    testsupport::RemoveTree(root_);
  }

  // The tool on this test's machine; $MEVRID_MACHINE is removed so only
  // --machine can name it.
  testsupport::ProcessResult Tool(const std::vector<std::string>& args) const { return ToolOn(dir_, args); }
  static testsupport::ProcessResult ToolOn(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {testsupport::MachineToolPath(), "--machine", dir};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::RunProgram(argv, "", {"MEVRID_MACHINE"});
  }
  // Runs the tool and expects success with no error output.
  std::string Ok(const std::vector<std::string>& args) const {
    testsupport::ProcessResult result = Tool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  }
  void Init(bool virtual_clock = true) const {
    if (virtual_clock)
      Ok({"init", "--virtual-clock"});
    else
      Ok({"init"});
  }
  // Opens the machine in this process, to read back what the tool did.
  void OpenHere() const {
    std::string error;
    ASSERT_TRUE(emu::OpenMachine(dir_, false, &error)) << error;
  }
  std::string HostDir() const {
    char resolved[PATH_MAX];
    return realpath(dir_.c_str(), resolved) ? std::string(resolved) : dir_;
  }
  // Writes a file of the test's own (a .reg text to import, for example).
  std::string WriteTemp(const std::string& name, const std::string& contents) const {
    std::string path = root_ + "/" + name;
    EXPECT_TRUE(testsupport::WriteFile(path, contents));
    return path;
  }

  std::string root_;
  std::string dir_;
};

}  // namespace machine_tool_test

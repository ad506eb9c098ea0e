// Test support: a fresh emulated machine per test, and running the built
// programs as a user would (argument vector, working directory, environment),
// capturing their standard output and exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// How every test sets its machine up and reads it back.
#include "platform/posix/admin.h"

namespace testsupport {

// A new machine in a temporary directory, opened in this process, with a
// virtual clock unless asked otherwise. MEVRID_MACHINE names it for every
// child process; "SystemRoot" is removed from the environment so the machine's
// own C:\WINDOWS applies. Destroyed with its directory.
class TestMachine {
 public:
  explicit TestMachine(bool virtual_clock = true);
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::string& dir() const { return dir_; }
  // Host directory of the emulated C: drive.
  std::string DriveC() const { return dir_ + "/drive_c"; }
  // Host path of a C:\ path written with the stored letter case, e.g.
  // HostPath("C:\\WINDOWS\\system32\\qelmot32.dll").
  std::string HostPath(const std::string& windows_path) const;

  // Registry as a .reg text (whole tree, or one key's subtree).
  std::string Export(const std::string& key = "") const;
  // Imports a .reg text; a failure fails the test.
  void Import(const std::string& reg_text) const;
  // The emulated machine's virtual time in milliseconds.
  long long NowMs() const;

 private:
  std::string dir_;
};

struct ProcessResult {
  int status = -1;  // exit status; 128+signal when killed
  std::string out;
  std::string err;
};

// Runs argv[0] (a host path) with the arguments, in cwd (empty: the current
// directory), with extra "NAME=VALUE" entries added to the environment and
// "NAME" entries removed from it; waits and captures both output streams.
ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "",
                         const std::vector<std::string>& env = {});

// A private copy of the build's release directory (mevrid.exe, nt_node\) in
// a new directory below parent; returns its path.
std::string MakeReleaseCopy(const std::string& parent);

// The processes whose program lies below host_dir (a machine's pre-processors
// left running), found through /proc so that a test can end them.
std::vector<pid_t> ProgramsRunningFrom(const std::string& host_dir);

std::string ToolPath();          // the built mevrid.exe
std::string MachineToolPath();   // the built mevrid-machine
std::string HelpersDir();        // directory of the test helper programs
std::string ReleaseDir();        // the build's release directory

std::string ReadFile(const std::string& host_path);
bool WriteFile(const std::string& host_path, const std::string& contents, bool executable = false);
bool FileExists(const std::string& host_path);
std::string MakeTempDir(const std::string& prefix = "mevrid-test");
void RemoveTree(const std::string& path);

}  // namespace testsupport

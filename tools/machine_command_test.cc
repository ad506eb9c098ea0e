// The machine commands: init, the clock and settings, reboot, files,
// console-log, help, and the handling of bad command lines.
#include <sys/stat.h>

#include <algorithm>

#include "tests/support/machine_tool_fixture.h"

namespace machine_tool_test {
namespace {

using testsupport::FileExists;
using testsupport::ProcessResult;
using testsupport::WriteFile;

TEST_F(MachineToolTest, InitCreatesTheMachineOnceAndOnlySwitchesTheClockWhenAsked) {
  ProcessResult first = Tool({"init"});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.out, "Created an emulated machine at " + HostDir() + " (real clock)\n");
  struct stat st;
  EXPECT_EQ(stat((dir_ + "/drive_c/WINDOWS/system32/drivers").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  Ok({"reg", "add", "HKLM\\SOFTWARE\\Kept", "/v", "V", "/d", "x"});
  EXPECT_EQ(Ok({"init"}), "Emulated machine already at " + HostDir() + " (real clock)\n");
  EXPECT_EQ(Ok({"clock"}), "real\n");
  EXPECT_EQ(Ok({"init", "--virtual-clock"}), "Emulated machine already at " + HostDir() + " (virtual clock)\n");
  EXPECT_EQ(Ok({"clock"}), "virtual\n");
  // A second init neither wiped the registry nor reset the clock.
  EXPECT_EQ(Ok({"init"}), "Emulated machine already at " + HostDir() + " (virtual clock)\n");
  EXPECT_EQ(Tool({"reg", "query", "SOFTWARE\\Kept", "V"}).status, 0);
}

TEST_F(MachineToolTest, EveryCommandButInitNeedsAnExistingMachine) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"clock"}, {"reg", "export"}, {"service", "list"}, {"fault", "list"}, {"reboot"}, {"files"}}) {
    ProcessResult result = Tool(args);
    EXPECT_EQ(result.status, 2) << args[0];
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("mevrid-machine: no machine at " + dir_, 0), 0u) << result.err;
  }
  EXPECT_FALSE(FileExists(dir_)) << "a failed command created the machine";
}

TEST_F(MachineToolTest, MachineComesFromTheEnvironmentWithoutMachineOption) {
  Init();
  ProcessResult result =
      testsupport::RunProgram({testsupport::MachineToolPath(), "clock"}, "", {"MEVRID_MACHINE=" + dir_});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "virtual\n");
}

// --machine is global: after the command it names the machine all the same,
// ahead of $MEVRID_MACHINE, and is never passed on as the command's argument.
TEST_F(MachineToolTest, MachineOptionAfterTheCommand) {
  const std::string tool = testsupport::MachineToolPath();
  const std::string other = root_ + "/other";
  ProcessResult created =
      testsupport::RunProgram({tool, "init", "--machine", dir_, "--virtual-clock"}, "", {"MEVRID_MACHINE=" + other});
  EXPECT_EQ(created.status, 0) << created.err;
  EXPECT_EQ(created.out, "Created an emulated machine at " + HostDir() + " (virtual clock)\n");
  EXPECT_FALSE(FileExists(other));
  ProcessResult clock = testsupport::RunProgram({tool, "clock", "--machine=" + dir_}, "", {"MEVRID_MACHINE"});
  EXPECT_EQ(clock.out, "virtual\n");
  ProcessResult missing = testsupport::RunProgram({tool, "clock", "--machine"}, "", {"MEVRID_MACHINE"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "mevrid-machine: --machine needs a directory\n");
}

TEST_F(MachineToolTest, ClockTimeAndAdvance) {
  Init(false);
  ProcessResult refused = Tool({"advance", "5"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "mevrid-machine: the machine's clock is real; switch it with 'clock virtual' first\n");
  Ok({"clock", "virtual"});
  EXPECT_EQ(Ok({"time"}), "0\n");
  Ok({"advance", "1500"});
  Ok({"advance", "0x10"});
  EXPECT_EQ(Ok({"time"}), "1516\n");
  Ok({"clock", "real"});
  EXPECT_EQ(Ok({"clock"}), "real\n");
  // The virtual time waits where it stopped.
  EXPECT_EQ(Ok({"time"}), "1516\n");

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{"clock", "slow"},
                                                                                   {"clock", "real", "now"},
                                                                                   {"advance"},
                                                                                   {"advance", "-1"},
                                                                                   {"advance", "1s"},
                                                                                   {"time", "now"}}) {
    ProcessResult result = Tool(bad);
    EXPECT_EQ(result.status, 2) << bad.back();
    EXPECT_EQ(result.err.rfind("mevrid-machine: ", 0), 0u);
  }
  EXPECT_EQ(Ok({"clock"}), "real\n");
}

TEST_F(MachineToolTest, LocaleAndSystemRootAreShownAndSet) {
  Init();
  EXPECT_EQ(Ok({"locale"}), "English_United States.1252\n");
  Ok({"locale", "Japanese_Japan.932"});
  EXPECT_EQ(Ok({"locale"}), "Japanese_Japan.932\n");
  EXPECT_EQ(Ok({"systemroot"}), "C:\\WINDOWS\n");
  Ok({"systemroot", "D:\\WINNT"});
  EXPECT_EQ(Ok({"systemroot"}), "D:\\WINNT\n");
  EXPECT_EQ(Tool({"locale", "a", "b"}).status, 2);
  EXPECT_EQ(Ok({"locale"}), "Japanese_Japan.932\n");
}

TEST_F(MachineToolTest, RebootCarriesOutAPendingDeletion) {
  Init();
  std::string doomed = dir_ + "/drive_c/WINDOWS/old.dll";
  ASSERT_TRUE(WriteFile(doomed, "old"));
  // "\??\C:\WINDOWS\old.dll", an empty target, and the list's terminator,
  // in the UTF-16 of a version 5 .reg file.
  std::string hex;
  std::string multi = "\\??\\C:\\WINDOWS\\old.dll";
  multi += std::string(3, '\0');
  for (size_t i = 0; i < multi.size(); ++i) {
    char byte[8];
    snprintf(byte, sizeof byte, "%s%02x,00", i ? "," : "", static_cast<unsigned char>(multi[i]));
    hex += byte;
  }
  std::string reg = WriteTemp("pending.reg",
                              "Windows Registry Editor Version 5.00\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
                              "\"PendingFileRenameOperations\"=hex(7):" +
                                  hex + "\r\n\r\n");
  Ok({"reg", "import", reg});
  Ok({"service", "add", "AutoSvc", "--start", "auto"});

  EXPECT_EQ(Ok({"reboot"}), "");
  EXPECT_FALSE(FileExists(doomed));
  EXPECT_EQ(
      Tool({"reg", "query", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations"})
          .status,
      2);
  EXPECT_NE(Ok({"service", "query", "AutoSvc"}).find("STATE              : 4  RUNNING\n"), std::string::npos);
  EXPECT_EQ(Tool({"reboot", "now"}).status, 2);
}

TEST_F(MachineToolTest, FilesListsDirectoriesSizesAndReadOnlyFiles) {
  Init();
  ASSERT_TRUE(WriteFile(dir_ + "/drive_c/WINDOWS/a.txt", "abc"));
  ASSERT_TRUE(WriteFile(dir_ + "/drive_c/WINDOWS/B.dll", "12345"));
  ASSERT_EQ(chmod((dir_ + "/drive_c/WINDOWS/B.dll").c_str(), 0444), 0);
  ASSERT_TRUE(WriteFile(dir_ + "/drive_c/WINDOWS/system32/drivers/vtrin.sys", std::string(1234, 'x')));
  // A copy in progress (or one a killed process left) is no file of the machine.
  ASSERT_TRUE(WriteFile(dir_ + "/drive_c/WINDOWS/system32/.mevrid-copy-1-Ab12Cd", "half"));

  const std::string listing =
      "--          3  C:\\WINDOWS\\a.txt\n"
      "-R          5  C:\\WINDOWS\\B.dll\n"
      "D-      <DIR>  C:\\WINDOWS\\system32\n"
      "D-      <DIR>  C:\\WINDOWS\\system32\\drivers\n"
      "--       1234  C:\\WINDOWS\\system32\\drivers\\vtrin.sys\n";
  // The stored letter case, whatever case is asked for.
  EXPECT_EQ(Ok({"files", "c:\\windows"}), listing);
  EXPECT_EQ(Ok({"files"}), "D-      <DIR>  C:\\WINDOWS\n" + listing);
  EXPECT_EQ(Ok({"files", "C:\\WINDOWS\\B.dll"}), "-R          5  C:\\WINDOWS\\B.dll\n");

  ProcessResult missing = Tool({"files", "C:\\NOPE"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "mevrid-machine: no C:\\NOPE on the machine\n");
  EXPECT_EQ(Tool({"files", "WINDOWS"}).status, 2);
}

TEST_F(MachineToolTest, ConsoleLogIsPrintedByteForByte) {
  Init();
  EXPECT_EQ(Ok({"console-log"}), "");
  const std::string log = "pre -e\r\nno newline at the end";
  ASSERT_TRUE(WriteFile(dir_ + "/console.log", log));
  EXPECT_EQ(Ok({"console-log"}), log);
}

TEST_F(MachineToolTest, BadCommandLinesFailWithOneLineAndStatusTwo) {
  Init();
  struct Case {
    std::vector<std::string> argv;
    std::string err;
  };
  const std::string tool = testsupport::MachineToolPath();
  for (const Case& c : std::vector<Case>{
           {{tool, "--machine", dir_, "frobnicate"},
            "mevrid-machine: unknown command 'frobnicate' (see 'mevrid-machine help')\n"},
           {{tool, "--machine", dir_}, "mevrid-machine: no command given (see 'mevrid-machine help')\n"},
           {{tool, "--verbose", "--machine", dir_, "clock"},
            "mevrid-machine: unknown option '--verbose' (see 'mevrid-machine help')\n"},
           {{tool, "--machine"}, "mevrid-machine: --machine needs a directory\n"},
           {{tool, "--machine", dir_, "init", "--fast"},
            "mevrid-machine: unknown argument '--fast' for 'init' (only --virtual-clock)\n"},
       }) {
    ProcessResult result = testsupport::RunProgram(c.argv, "", {"MEVRID_MACHINE"});
    EXPECT_EQ(result.status, 2) << c.err;
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(Ok({"clock"}), "virtual\n");
}

TEST_F(MachineToolTest, HelpDocumentsEveryCommandAndOption) {
  // No machine is needed to read the help.
  ProcessResult help = testsupport::RunProgram({testsupport::MachineToolPath(), "help"}, "", {"MEVRID_MACHINE"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(Tool({"--help"}).out, help.out);
  // Every command, subcommand and option, separated by "|".
  const std::string documented =
      "--machine|$MEVRID_MACHINE|init|--virtual-clock|clock|time|advance|locale|systemroot|reboot|files|"
      "console-log|reg import|reg export|reg query|reg add|reg delete|/v|/ve|/va|/t|/d|/s|/f|service add|"
      "--display|--driver|--image|--group|--depends|--start |--state|--start-ms|--stop-ms|--stop-lag-ms|never|"
      "--start-fails|"
      "--refuse-stop|service remove|service list|service query|service qc|service start|service stop|fault add|"
      "--match|--error|--nth|--always|fault list|fault clear|calls on|off|show|Exit status";
  size_t start = 0;
  while (start < documented.size()) {
    size_t end = std::min(documented.find('|', start), documented.size());
    std::string word = documented.substr(start, end - start);
    EXPECT_NE(help.out.find(word), std::string::npos) << "help does not mention " << word;
    start = end + 1;
  }
}

}  // namespace
}  // namespace machine_tool_test

// reg import / export / query / add / delete.
#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "platform/win32.h"
#include "tests/support/machine_tool_fixture.h"

namespace machine_tool_test {
namespace {

using testsupport::ProcessResult;

const char kSuccess[] = "The operation completed successfully.\n";
const char kMissing[] = "ERROR: The system was unable to find the specified registry key or value.\n";

const char kComponentReg[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\r\n"
    "\"Version\"=\"4.0\"\r\n"
    "\"UnInstallImage\"=\"C:\\\\WINDOWS\\\\mevrid.exe\"\r\n"
    "\"Count\"=dword:00000002\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\PRODUCT]\r\n"
    "\"PreProcImage\"=\"C:\\\\Program Files\\\\p\\\\pre.exe\"\r\n"
    "\r\n";

TEST_F(MachineToolTest, ImportExportRoundTripAndKeyPrefixes) {
  Init();
  EXPECT_EQ(Ok({"reg", "import", WriteTemp("component.reg", kComponentReg)}), kSuccess);
  EXPECT_EQ(Ok({"reg", "query", "HKLM\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion", "Version"}),
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion\n"
            "    Version    REG_SZ    4.0\n\n");

  std::string whole = Ok({"reg", "export"});
  EXPECT_EQ(whole.rfind("Windows Registry Editor Version 5.00", 0), 0u) << whole;
  EXPECT_NE(whole.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\PRODUCT]"),
            std::string::npos);

  // One key's subtree, whichever way the key is written, is exactly what
  // the emulation exports for it.
  std::string subtree = Ok({"reg", "export", "HKLM\\SOFTWARE\\Kelm Computer Corporation"});
  EXPECT_EQ(Ok({"reg", "export", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation"}), subtree);
  EXPECT_EQ(Ok({"reg", "export", "software\\kelm computer corporation\\"}), subtree);
  OpenHere();
  std::string expected, error;
  ASSERT_TRUE(emu::admin::ExportRegText("SOFTWARE\\Kelm Computer Corporation", &expected, &error)) << error;
  EXPECT_EQ(subtree, expected);
  emu::CloseMachine();

  // The export imports into a second machine as the same registry.
  std::string second = root_ + "/second";
  ASSERT_EQ(ToolOn(second, {"init"}).status, 0);
  ProcessResult imported = ToolOn(second, {"reg", "import", WriteTemp("whole.reg", whole)});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(ToolOn(second, {"reg", "export"}).out, whole);
}

TEST_F(MachineToolTest, ImportReadsStandardInput) {
  Init();
  std::string file = WriteTemp("component.reg", kComponentReg);
  ProcessResult result = testsupport::RunProgram(
      {"/bin/sh", "-c", "\"$0\" --machine \"$1\" reg import - < \"$2\"", testsupport::MachineToolPath(), dir_, file});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kSuccess);
  EXPECT_EQ(Tool({"reg", "query", "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\PRODUCT"}).status, 0);
}

TEST_F(MachineToolTest, MalformedImportChangesNothing) {
  Init();
  Ok({"reg", "add", "SOFTWARE\\Before", "/v", "Kept", "/d", "1"});
  std::string before = Ok({"reg", "export"});
  std::string file = WriteTemp("bad.reg",
                               "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Half]\r\n"
                               "\"Good\"=\"yes\"\r\n"
                               "\"Bad\"=dword:zz\r\n");
  ProcessResult result = Tool({"reg", "import", file});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("mevrid-machine: " + file + ": ", 0), 0u) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "more than one line: " << result.err;
  EXPECT_EQ(Ok({"reg", "export"}), before);

  ProcessResult unreadable = Tool({"reg", "import", root_ + "/absent.reg"});
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_EQ(unreadable.err, "mevrid-machine: cannot read " + root_ + "/absent.reg\n");
}

TEST_F(MachineToolTest, ExportOfAMissingKeyOrAnotherHiveFails) {
  Init();
  ProcessResult missing = Tool({"reg", "export", "HKLM\\SOFTWARE\\Nope"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "mevrid-machine: no key HKEY_LOCAL_MACHINE\\SOFTWARE\\Nope\n");

  ProcessResult hive = Tool({"reg", "export", "HKCU\\Software"});
  EXPECT_EQ(hive.status, 2);
  EXPECT_EQ(hive.err, "mevrid-machine: only HKEY_LOCAL_MACHINE exists on an emulated machine, not HKCU\n");
  EXPECT_EQ(Tool({"reg", "export", "SOFTWARE", "out.reg"}).status, 2);
}

TEST_F(MachineToolTest, AddStoresWhatRegStoresAndQueryPrintsItAsRegDoes) {
  Init();
  for (const std::vector<std::string>& add : std::vector<std::vector<std::string>>{
           {"HKLM\\SOFTWARE\\Kelm", "/v", "Version", "/d", "4.0"},
           {"HKLM\\SOFTWARE\\Kelm", "/v", "Count", "/t", "REG_DWORD", "/d", "42"},
           {"HKLM\\SOFTWARE\\Kelm", "/v", "List", "/t", "reg_multi_sz", "/d", "a\\0b"},
           {"HKLM\\SOFTWARE\\Kelm", "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff10"},
           {"HKLM\\SOFTWARE\\Kelm", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\x", "/f"},
           {"HKLM\\SOFTWARE\\Kelm", "/ve", "/d", "dflt"},
           {"HKLM\\SOFTWARE\\Kelm\\beta"},
           {"HKLM\\SOFTWARE\\Kelm\\Alpha"},
           {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Gamma\\Deep"}}) {
    std::vector<std::string> args = {"reg", "add"};
    args.insert(args.end(), add.begin(), add.end());
    EXPECT_EQ(Ok(args), kSuccess);
  }

  EXPECT_EQ(Ok({"reg", "query", "hklm\\software\\kelm"}),
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\n"
            "    Version    REG_SZ    4.0\n"
            "    Count    REG_DWORD    0x2a\n"
            "    List    REG_MULTI_SZ    a\\0b\n"
            "    Blob    REG_BINARY    00FF10\n"
            "    Path    REG_EXPAND_SZ    %SystemRoot%\\x\n"
            "    (Default)    REG_SZ    dflt\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Alpha\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\beta\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Gamma\n");
  // A key without values has no heading of its own.
  EXPECT_EQ(Ok({"reg", "query", "SOFTWARE\\Kelm\\Gamma"}), "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Gamma\\Deep\n");
  EXPECT_EQ(Ok({"reg", "query", "SOFTWARE\\Kelm", "/v", "count"}),
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\n    Count    REG_DWORD    0x2a\n\n");
  EXPECT_EQ(Ok({"reg", "query", "SOFTWARE\\Kelm", "/ve"}),
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\n    (Default)    REG_SZ    dflt\n\n");
  EXPECT_EQ(Ok({"reg", "query", "SOFTWARE\\Kelm\\Alpha", "/ve"}),
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Alpha\n    (Default)    REG_SZ    (value not set)\n\n");

  OpenHere();
  ASSERT_TRUE(emu::admin::KeyExists("SOFTWARE\\Kelm"));
  struct Stored {
    const char* name;
    uint32_t type;
    std::string data;
  };
  for (const Stored& expected : std::vector<Stored>{{"Version", REG_SZ, std::string("4.0\0", 4)},
                                                    {"Count", REG_DWORD, std::string("\x2a\0\0\0", 4)},
                                                    {"List", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
                                                    {"Blob", REG_BINARY, std::string("\x00\xff\x10", 3)},
                                                    {"Path", REG_EXPAND_SZ, std::string("%SystemRoot%\\x\0", 15)},
                                                    {"", REG_SZ, std::string("dflt\0", 5)}}) {
    emu::admin::RegValue value;
    ASSERT_TRUE(emu::admin::ReadValue("SOFTWARE\\Kelm", expected.name, &value)) << expected.name;
    EXPECT_EQ(value.type, expected.type) << expected.name;
    EXPECT_EQ(value.data, expected.data) << expected.name;
  }
}

TEST_F(MachineToolTest, QueryOfAMissingKeyOrValueFailsAsRegDoes) {
  Init();
  Ok({"reg", "add", "SOFTWARE\\Kelm", "/v", "Version", "/d", "4.0"});
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"reg", "query", "SOFTWARE\\Nope"},
                                             {"reg", "query", "SOFTWARE\\Kelm", "Missing"},
                                             {"reg", "delete", "SOFTWARE\\Nope"},
                                             {"reg", "delete", "SOFTWARE\\Kelm", "/v", "Missing"}}) {
    ProcessResult result = Tool(args);
    EXPECT_EQ(result.status, 2) << args[2];
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kMissing);
  }
}

TEST_F(MachineToolTest, BadAddChangesNothing) {
  Init();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"reg", "add", "SOFTWARE\\New", "/v", "N", "/t", "REG_DWORD", "/d", "xyz"},
           {"reg", "add", "SOFTWARE\\New", "/v", "N", "/t", "REG_DWORD", "/d", "4294967296"},
           {"reg", "add", "SOFTWARE\\New", "/v", "N", "/t", "REG_BINARY", "/d", "abc"},
           {"reg", "add", "SOFTWARE\\New", "/v", "N", "/t", "REG_LINK"},
           {"reg", "add", "SOFTWARE\\New", "/v"},
           {"reg", "add", "SOFTWARE\\New", "/v", "A", "/ve"},
           {"reg", "add", "SOFTWARE\\New", "/x"},
           {"reg", "add", "HKCU\\New"},
           // What a .reg import refuses: no key below the hive, an empty or
           // doubled separator, a name over 255 characters.
           {"reg", "add", "HKLM"},
           {"reg", "add", "HKEY_LOCAL_MACHINE\\", "/v", "N", "/d", "x"},
           {"reg", "add", "HKLM\\SOFTWARE\\\\New"},
           {"reg", "add", "HKLM\\\\SOFTWARE\\New"},
           {"reg", "add", "\\SOFTWARE\\New"},
           {"reg", "add", "SOFTWARE\\New\\\\"},
           {"reg", "add", "SOFTWARE\\New\\" + std::string(256, 'k')},
           {"reg", "add"},
           {"reg", "frob"},
           {"reg"}}) {
    ProcessResult result = Tool(args);
    EXPECT_EQ(result.status, 2) << args.back();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("mevrid-machine: ", 0), 0u) << result.err;
  }
  EXPECT_EQ(Tool({"reg", "query", "SOFTWARE\\New"}).status, 2);
  EXPECT_EQ(Tool({"reg", "query", "HKLM", "/v", "N"}).status, 2);
  // One trailing separator is dropped, as an import drops it.
  EXPECT_EQ(Ok({"reg", "add", "SOFTWARE\\New\\" + std::string(255, 'k') + "\\"}),
            "The operation completed successfully.\n");
}

TEST_F(MachineToolTest, DeleteRemovesValuesAndWholeKeys) {
  Init();
  Ok({"reg", "add", "SOFTWARE\\Kelm", "/v", "A", "/d", "1"});
  Ok({"reg", "add", "SOFTWARE\\Kelm", "/v", "B", "/d", "2"});
  Ok({"reg", "add", "SOFTWARE\\Kelm\\Sub\\Deeper", "/v", "C", "/d", "3"});

  EXPECT_EQ(Ok({"reg", "delete", "SOFTWARE\\Kelm", "/v", "a", "/f"}), kSuccess);
  EXPECT_EQ(Ok({"reg", "query", "SOFTWARE\\Kelm"}),
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\n    B    REG_SZ    2\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Sub\n");
  EXPECT_EQ(Ok({"reg", "delete", "SOFTWARE\\Kelm", "/va"}), kSuccess);
  EXPECT_EQ(Ok({"reg", "query", "SOFTWARE\\Kelm"}), "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Sub\n");
  // A key goes with everything below it.
  EXPECT_EQ(Ok({"reg", "delete", "HKLM\\SOFTWARE\\Kelm"}), kSuccess);
  EXPECT_EQ(Tool({"reg", "query", "SOFTWARE\\Kelm"}).status, 2);
  EXPECT_EQ(Tool({"reg", "query", "SOFTWARE"}).status, 0);

  ProcessResult root = Tool({"reg", "delete", "HKLM"});
  EXPECT_EQ(root.status, 2);
  EXPECT_EQ(root.err, "mevrid-machine: HKEY_LOCAL_MACHINE itself cannot be deleted\n");
  EXPECT_EQ(Tool({"reg", "delete", "SOFTWARE", "/v", "X", "/va"}).status, 2);
}

}  // namespace
}  // namespace machine_tool_test

// The environment probe over machines seeded from .reg texts. Imported
// strings carry their terminator, as regedit stores them, so a text of n
// characters occupies n + 1 bytes of its 16- or 260-byte buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/environment_profile.h"
#include "tests/support/reg_text.h"
#include "tests/support/test_machine.h"

namespace {

using testsupport::TestMachine;

constexpr char kOlderNode[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\n";
constexpr char kNewerNode[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion]\n";
constexpr char kSuite[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation]\n";
constexpr char kServerManager[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Kelm Server Manager\\Current Version]\n";
constexpr char kServerConsole[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm Wardhaven Server Console\\Current Version]\n";
constexpr char kOpenView[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\OpenView]\n";
constexpr char kNnm[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\OpenView\\Network Node Manager]\n";
constexpr char kRemoteAssistant[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm Remote Assistant Server\\Current Version]\n";
constexpr char kRemoteAssistantService[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Kelm Remote Assistant Server]\n";

std::string Reg(const std::string& body) { return "Windows Registry Editor Version 5.00\n\n" + body; }

// A .reg string line, escaped as regedit writes it.
constexpr auto& Str = testsupport::RegString;

EnvironmentProfile Probe(const TestMachine& machine, const std::string& body) {
  machine.Import(Reg(body));
  return ProbeEnvironment();
}

std::string Report(const EnvironmentProfile& profile) {
  testing::internal::CaptureStdout();
  PrintEnvironmentReport(profile);
  return testing::internal::GetCapturedStdout();
}

TEST(EnvironmentProbe, EmptyMachineFindsNothing) {
  TestMachine machine;
  const EnvironmentProfile p = ProbeEnvironment();
  EXPECT_EQ(p.NodePresent, 0);
  EXPECT_EQ(p.ConsolePresent, 0);
  EXPECT_EQ(p.ConsoleRole, ConsoleRole::None);
  EXPECT_STREQ(p.NodeVersion, "");
  EXPECT_STREQ(p.ProgramFilesPath, "");
  EXPECT_STREQ(p.ConsoleVersion, "");
  EXPECT_STREQ(p.OpenViewPath, "");
  EXPECT_STREQ(p.LanguageDirectory, "");
  EXPECT_EQ(IsManagedNode(p), 0);
  EXPECT_EQ(IsManagementStation(p), 0);
  EXPECT_EQ(Report(p), "Not a Mangement Station or Remote Console\nNot a Managed Node\n\n");
}

TEST(EnvironmentProbe, OlderRegistrationNeedsVersionAndDmiPath) {
  {
    TestMachine machine;
    const auto& p = Probe(machine, kOlderNode + Str("Version", "3.2.1") + Str("DMIPath", "C:\\DMI"));
    EXPECT_EQ(p.NodePresent, 1);
    EXPECT_STREQ(p.NodeVersion, "3.2.1");
    EXPECT_EQ(Report(p), "Not a Mangement Station or Remote Console\nManaged Node version (3.2.1)\n\n");
  }
  {
    TestMachine machine;
    const auto& p = Probe(machine, kOlderNode + Str("Version", "3.2.1"));
    EXPECT_EQ(p.NodePresent, 0);
    EXPECT_STREQ(p.NodeVersion, "3.2.1");
  }
  {
    TestMachine machine;
    const auto& p = Probe(machine, kOlderNode + Str("DMIPath", "C:\\DMI"));
    EXPECT_EQ(p.NodePresent, 0);
    EXPECT_STREQ(p.NodeVersion, "");
  }
}

TEST(EnvironmentProbe, NewerRegistrationDecidesOverTheOlder) {
  const std::string older = kOlderNode + Str("Version", "3.0") + Str("DMIPath", "C:\\DMI");
  {
    TestMachine machine;
    const auto& p = Probe(machine, older + kNewerNode + Str("Version", "3.4") + Str("PathName", "D:\\Suite\\ihv\\bin"));
    EXPECT_EQ(p.NodePresent, 1);
    EXPECT_STREQ(p.NodeVersion, "3.4");
    EXPECT_STREQ(p.ProgramFilesPath, "D:\\Suite");
  }
  {
    // Without "PathName" the newer registration is incomplete: the node does
    // not count, although its version was read (and KelmPath is not asked).
    TestMachine machine;
    const auto& p = Probe(machine, older + kNewerNode + Str("Version", "3.4") + kSuite + Str("KelmPath", "E:\\Kelm"));
    EXPECT_EQ(p.NodePresent, 0);
    EXPECT_STREQ(p.NodeVersion, "3.4");
    EXPECT_STREQ(p.ProgramFilesPath, "");
    EXPECT_EQ(IsNodeVersion(p, "3.4"), 1);
  }
  {
    // A newer key without "Version" clears the node the older key found.
    TestMachine machine;
    const auto& p = Probe(machine, older + kNewerNode + Str("PathName", "D:\\Suite"));
    EXPECT_EQ(p.NodePresent, 0);
    EXPECT_STREQ(p.NodeVersion, "");
    EXPECT_STREQ(p.ProgramFilesPath, "");
  }
  {
    // Without the newer key the program files path comes from "KelmPath",
    // and the older registration stands.
    TestMachine machine;
    const auto& p = Probe(machine, older + kSuite + Str("KelmPath", "E:\\Kelm\\ihv\\bin"));
    EXPECT_EQ(p.NodePresent, 1);
    EXPECT_STREQ(p.NodeVersion, "3.0");
    EXPECT_STREQ(p.ProgramFilesPath, "E:\\Kelm\\ihv\\bin");
  }
}

TEST(EnvironmentProbe, BinariesDirectoryCutOnlyInItsOwnLetterCase) {
  const struct {
    const char* path_name;
    const char* expected;
  } cases[] = {
      {"D:\\Suite\\ihv\\bin", "D:\\Suite"},
      {"D:\\Suite\\IHV\\BIN", "D:\\Suite\\IHV\\BIN"},
      {"D:\\Suite\\Ihv\\bin", "D:\\Suite\\Ihv\\bin"},
      {"D:\\Suite", "D:\\Suite"},
      {"D:\\a\\ihv\\bin\\b\\ihv\\bin", "D:\\a"},
      {"D:\\Suite\\ihv\\binaries", "D:\\Suite"},
      {"\\ihv\\bin", ""},
  };
  TestMachine machine;
  for (const auto& c : cases) {
    const auto& p = Probe(machine, kNewerNode + Str("Version", "4.1") + Str("PathName", c.path_name));
    EXPECT_EQ(p.NodePresent, 1) << c.path_name;
    EXPECT_STREQ(p.ProgramFilesPath, c.expected) << c.path_name;
  }
}

// Every value of the key table at the longest text its buffer holds and one
// character longer: the longer one counts as absent.
TEST(EnvironmentProbe, ValuesOneByteTooLongCountAsAbsent) {
  struct Row {
    const char* name;
    int buffer;
    std::string (*body)(const std::string& text);
    bool (*found)(const EnvironmentProfile& p, const std::string& text);
  };
  const Row rows[] = {
      {"older Version", 16,
       [](const std::string& t) { return kOlderNode + Str("Version", t) + Str("DMIPath", "C:\\DMI"); },
       [](const EnvironmentProfile& p, const std::string& t) { return p.NodePresent == 1 && p.NodeVersion == t; }},
      {"DMIPath", 260,
       [](const std::string& t) { return kOlderNode + Str("Version", "3.1") + Str("DMIPath", t); },
       [](const EnvironmentProfile& p, const std::string&) { return p.NodePresent == 1; }},
      {"newer Version", 16,
       [](const std::string& t) { return kNewerNode + Str("Version", t) + Str("PathName", "D:\\S"); },
       [](const EnvironmentProfile& p, const std::string& t) { return p.NodePresent == 1 && p.NodeVersion == t; }},
      {"PathName", 260,
       [](const std::string& t) { return kNewerNode + Str("Version", "3.3") + Str("PathName", t); },
       [](const EnvironmentProfile& p, const std::string& t) {
         return p.NodePresent == 1 && p.ProgramFilesPath == t;
       }},
      {"KelmPath", 260, [](const std::string& t) { return kSuite + Str("KelmPath", t); },
       [](const EnvironmentProfile& p, const std::string& t) { return p.ProgramFilesPath == t; }},
      {"Server Manager Version", 16, [](const std::string& t) { return kServerManager + Str("Version", t); },
       [](const EnvironmentProfile& p, const std::string& t) {
         return p.ConsolePresent == 1 && p.ConsoleVersion == t;
       }},
      {"Server Console Version", 16, [](const std::string& t) { return kServerConsole + Str("Version", t); },
       [](const EnvironmentProfile& p, const std::string& t) {
         return p.ConsolePresent == 1 && p.ConsoleVersion == t && p.ConsoleRole == ConsoleRole::Applications;
       }},
      {"OV_PATH", 260, [](const std::string& t) { return kOpenView + Str("OV_PATH", t); },
       [](const EnvironmentProfile& p, const std::string& t) { return p.OpenViewPath == t; }},
      // Any readable manager type sets the language directory.
      {"ManagerType", 16, [](const std::string& t) { return kOpenView + std::string(kNnm) + Str("ManagerType", t); },
       [](const EnvironmentProfile& p, const std::string&) { return std::string(p.LanguageDirectory) == "C"; }},
      {"Remote Assistant Version", 16,
       [](const std::string& t) { return kRemoteAssistantService + (kRemoteAssistant + Str("Version", t)); },
       [](const EnvironmentProfile& p, const std::string&) {
         return p.ConsolePresent == 1 && std::string(p.ConsoleVersion) == "1.3";
       }},
  };
  for (const Row& row : rows) {
    // The buffer holds the text and its terminator. The second import
    // overwrites the value of the first.
    const std::string longest(row.buffer - 1, 'x');
    const std::string too_long(row.buffer, 'x');
    TestMachine machine;
    EXPECT_TRUE(row.found(Probe(machine, row.body(longest)), longest)) << row.name << " of " << longest.size();
    EXPECT_FALSE(row.found(Probe(machine, row.body(too_long)), too_long)) << row.name << " of " << too_long.size();
  }
}

TEST(EnvironmentProbe, NodeVersionComparesIgnoringCase) {
  TestMachine machine;
  const auto p = Probe(machine, kNewerNode + Str("Version", "3.2.1b") + Str("PathName", "D:\\S"));
  EXPECT_EQ(IsNodeVersion(p, "3.2.1B"), 1);
  EXPECT_EQ(IsNodeVersion(p, "3.2.1b"), 1);
  EXPECT_EQ(IsNodeVersion(p, "3.2.1"), 0);
  EXPECT_EQ(IsNodeVersion(p, "3.2.1bb"), 0);
  EXPECT_EQ(IsNodeVersion(p, ""), 0);
}

TEST(EnvironmentProbe, ServerManagerKeyIsTheOnlyConsoleKeyRead) {
  TestMachine machine;
  // The Server Manager key exists without a version: the Server Console key's
  // version is not looked at, though the console still gives the role.
  const auto& p = Probe(machine, std::string(kServerManager) + kServerConsole + Str("Version", "2.0"));
  EXPECT_EQ(p.ConsolePresent, 0);
  EXPECT_STREQ(p.ConsoleVersion, "");
  EXPECT_EQ(p.ConsoleRole, ConsoleRole::Applications);
  EXPECT_EQ(Report(p), "Not a Mangement Station or Remote Console\nNot a Managed Node\n\n");
}

TEST(EnvironmentProbe, OpenViewDecidesTheRole) {
  const std::string console = kServerConsole + Str("Version", "2.0");
  const std::string open_view = kOpenView + Str("OV_PATH", "C:\\OV");
  const struct {
    const char* manager_type;
    ConsoleRole role;
  } cases[] = {{"MANAGER", ConsoleRole::Manager},
               {"manager", ConsoleRole::Manager},
               {"Console", ConsoleRole::Console},
               {"MANAGERS", ConsoleRole::None},
               {"", ConsoleRole::None}};
  for (const auto& c : cases) {
    TestMachine machine;
    const auto& p = Probe(machine, console + open_view + kNnm + Str("ManagerType", c.manager_type));
    EXPECT_EQ(p.ConsoleRole, c.role) << c.manager_type;
    EXPECT_STREQ(p.OpenViewPath, "C:\\OV");
    EXPECT_STREQ(p.LanguageDirectory, "C") << c.manager_type;
    EXPECT_EQ(p.ConsolePresent, 1);
    EXPECT_EQ(IsManagementStation(p), c.role == ConsoleRole::Manager ? 1 : 0) << c.manager_type;
  }
  {
    // OpenView without Network Node Manager: no role, and not Applications
    // although the suite's console is there.
    TestMachine machine;
    const auto& p = Probe(machine, console + open_view);
    EXPECT_EQ(p.ConsoleRole, ConsoleRole::None);
    EXPECT_STREQ(p.LanguageDirectory, "");
    EXPECT_EQ(Report(p), "Console version (2.0), Unknown\nNot a Managed Node\n\n");
  }
  {
    // A manager without a console version is not a management station.
    TestMachine machine;
    const auto& p = Probe(machine, open_view + kNnm + Str("ManagerType", "MANAGER"));
    EXPECT_EQ(p.ConsoleRole, ConsoleRole::Manager);
    EXPECT_EQ(IsManagementStation(p), 0);
    EXPECT_EQ(Report(p), "Not a Mangement Station or Remote Console\nNot a Managed Node\n\n");
  }
}

TEST(EnvironmentProbe, RemoteAssistantServerShowsAsConsoleOnePointThree) {
  const std::string service = kRemoteAssistantService + Str("DisplayName", "Kelm Remote Assistant Server");
  {
    TestMachine machine;
    const auto& p = Probe(machine, service + kRemoteAssistant + Str("Version", "5.7.9") + kSuite +
                                       Str("KelmPath", "C:\\Program Files\\Kelm"));
    EXPECT_EQ(p.ConsoleRole, ConsoleRole::Applications);
    EXPECT_EQ(p.ConsolePresent, 1);
    EXPECT_STREQ(p.ConsoleVersion, "1.3");
    EXPECT_EQ(Report(p),
              "Console version (1.3), Wardhaven Applications\nProgram Files Path (C:\\Program Files\\Kelm)\n"
              "Not a Managed Node\n\n");
  }
  {
    // Without the service key the server gives the role but no console.
    TestMachine machine;
    const auto& p = Probe(machine, kRemoteAssistant + Str("Version", "5.7.9"));
    EXPECT_EQ(p.ConsoleRole, ConsoleRole::Applications);
    EXPECT_EQ(p.ConsolePresent, 0);
  }
  {
    // A version that cannot be read leaves the Server Console's version.
    TestMachine machine;
    const auto& p = Probe(machine, service + kRemoteAssistant + kServerConsole + Str("Version", "2.1"));
    EXPECT_EQ(p.ConsolePresent, 1);
    EXPECT_STREQ(p.ConsoleVersion, "2.1");
  }
  {
    // Under OpenView the role is not Applications, so the server is ignored.
    TestMachine machine;
    const auto& p = Probe(machine, service + kRemoteAssistant + Str("Version", "5.7") + kServerManager +
                                       Str("Version", "2.2") + kOpenView + kNnm + Str("ManagerType", "CONSOLE"));
    EXPECT_EQ(p.ConsoleRole, ConsoleRole::Console);
    EXPECT_STREQ(p.ConsoleVersion, "2.2");
  }
}

TEST(EnvironmentProbe, LanguageDirectoryFollowsTheUserLocale) {
  const std::string body =
      kServerManager + Str("Version", "2.0") + kOpenView + Str("OV_PATH", "C:\\OV") + kNnm + Str("ManagerType", "MANAGER");
  {
    TestMachine machine;
    emu::SetSetting("user-locale", "Japanese_Japan.932");
    const auto& p = Probe(machine, body);
    EXPECT_STREQ(p.LanguageDirectory, "Japanese_Japan.932");
    EXPECT_EQ(Report(p),
              "Console version (2.0), Management Station\nOpenView Path (C:\\OV), Language Directory "
              "(Japanese_Japan.932)\nNot a Managed Node\n\n");
  }
  {
    TestMachine machine;
    emu::SetSetting("user-locale", "German_Germany.1252");
    const auto& p = Probe(machine, body);
    EXPECT_STREQ(p.LanguageDirectory, "C");
  }
  {
    TestMachine machine;
    const auto& p = Probe(machine, body + kOlderNode + Str("Version", "3.3") + Str("DMIPath", "C:\\DMI"));
    EXPECT_STREQ(p.LanguageDirectory, "C");
    EXPECT_EQ(Report(p),
              "Console version (2.0), Management Station\nOpenView Path (C:\\OV), Language Directory (C)\n"
              "Managed Node version (3.3)\n\n");
  }
}

TEST(EnvironmentProbe, RemoteConsoleReport) {
  TestMachine machine;
  const auto p = Probe(machine, kServerConsole + Str("Version", "2.5") + kOpenView + Str("OV_PATH", "D:\\OpenView") + kNnm +
                     Str("ManagerType", "console") + kNewerNode + Str("Version", "4.0") + Str("PathName", "D:\\K"));
  EXPECT_EQ(Report(p),
            "Console version (2.5), Remote Console\nOpenView Path (D:\\OpenView), Language Directory (C)\n"
            "Managed Node version (4.0)\n\n");
}

TEST(EnvironmentProbe, ProbeStartsAfresh) {
  TestMachine machine;
  const auto before = Probe(machine, kOlderNode + Str("Version", "3.1") + Str("DMIPath", "C:\\DMI") + kServerConsole +
                                         Str("Version", "2.0"));
  ASSERT_EQ(IsManagedNode(before), 1);
  machine.Import(Reg("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm]\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation]\n"));
  const EnvironmentProfile p = ProbeEnvironment();
  EXPECT_EQ(IsManagedNode(p), 0);
  EXPECT_EQ(p.ConsolePresent, 0);
  EXPECT_EQ(p.ConsoleRole, ConsoleRole::None);
  EXPECT_STREQ(p.NodeVersion, "");
}

}  // namespace

namespace {

// The registry calls of one probe, one line each: the operation and the key
// path or value name it was asked about.
std::vector<std::string> ProbeTrace(const TestMachine& machine, const std::string& body, EnvironmentProfile* profile) {
  machine.Import(Reg(body));
  std::vector<std::string> trace;
  emu::SetCallTrace(&trace);
  *profile = ProbeEnvironment();
  emu::SetCallTrace(nullptr);
  std::vector<std::string> registry;
  for (const std::string& line : trace)
    if (line.rfind("Reg", 0) == 0) registry.push_back(line);
  return registry;
}

// Every key is opened once, read through that one handle and closed before
// the next is opened, in the probe's order: a fault rule on the n-th opening
// of a key then means the same thing whatever the probe reads from it.
TEST(EnvironmentProbe, EachKeyOpenedOnceReadAndClosedBeforeTheNext) {
  TestMachine machine;
  EnvironmentProfile p;
  const std::vector<std::string> trace = ProbeTrace(
      machine, kOlderNode + Str("Version", "3.1") + Str("DMIPath", "C:\\DMI") + kNewerNode + Str("Version", "3.4") +
                   Str("PathName", "C:\\K\\ihv\\bin") + kServerManager + Str("Version", "2.0") + kOpenView +
                   Str("OV_PATH", "C:\\OV") + kNnm + Str("ManagerType", "MANAGER") + kRemoteAssistantService, &p);
  std::vector<std::string> opened;
  int open_keys = 0;
  for (const std::string& line : trace) {
    if (line.rfind("RegOpenKeyExA ", 0) == 0) {
      EXPECT_EQ(open_keys, 0) << "opened while another key is open: " << line;
      ++open_keys;
      opened.push_back(line.substr(14));
    } else if (line.rfind("RegCloseKey", 0) == 0) {
      --open_keys;
    }
  }
  EXPECT_EQ(open_keys, 0);
  // The suite key is not read when the newer registration opens, nor the
  // server console's when the server manager's does, nor the remote
  // assistant's when OpenView decides the role.
  const std::vector<std::string> expected = {
      "SOFTWARE\\Kelm\\KelmZAQ\\Current Version",
      "SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion",
      "SOFTWARE\\Kelm\\Kelm Server Manager\\Current Version",
      "SOFTWARE\\Hewlett-Packard\\OpenView",
      "SOFTWARE\\Hewlett-Packard\\OpenView\\Network Node Manager",
      "SYSTEM\\CurrentControlSet\\Services\\Kelm Remote Assistant Server",
  };
  ASSERT_EQ(opened.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NE(opened[i].find(expected[i]), std::string::npos) << opened[i];
  EXPECT_EQ(p.ConsoleRole, ConsoleRole::Manager);
  EXPECT_STREQ(p.ProgramFilesPath, "C:\\K");
}

// A fault on the second opening of the older registration's key does not
// touch the probe, which opens it once; a fault on the first hides it.
TEST(EnvironmentProbe, FaultOnAKeyCountsItsOpeningsNotItsReads) {
  const std::string body = kOlderNode + Str("Version", "3.2") + Str("DMIPath", "C:\\DMI");
  {
    TestMachine machine;
    ASSERT_TRUE(emu::AddFaultRule("RegOpenKeyExA", "KelmZAQ", ERROR_ACCESS_DENIED, 2, false));
    const auto& p = Probe(machine, body);
    EXPECT_EQ(p.NodePresent, 1);
    EXPECT_STREQ(p.NodeVersion, "3.2");
  }
  {
    TestMachine machine;
    ASSERT_TRUE(emu::AddFaultRule("RegOpenKeyExA", "KelmZAQ", ERROR_ACCESS_DENIED, 1, false));
    const auto& p = Probe(machine, body);
    EXPECT_EQ(p.NodePresent, 0);
    EXPECT_STREQ(p.NodeVersion, "");
  }
}

}  // namespace

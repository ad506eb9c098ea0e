// An older node through the built tool, seen from its registrations: which
// of the two managed-node registrations decides, the program files path of an
// older registration, what the probe reports on consoles of each kind, the
// legacy restart whose failures do not count, a quiet install over an older
// node, and the legacy reference dropped by a removal that itself fails.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/registry_access.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/legacy_e2e_texts.h"
#include "tests/support/reg_text.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"

namespace {

using namespace legacye2e;

// On a release machine whose node agents do not depend on each other, so the
// legacy stop names the baseboard agent alone.
constexpr char kNewerNodeKey[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion]\n";

constexpr char kRefusalHeading[] = "\n\nDetected older version of NNM/SE\n********************************\n\n";
constexpr char kInstallBanner[] = "\n\nInstalling Components\n*********************\n\n";
constexpr char kRemoveFailed[] =
    "\nRemove Summary\n**************\nRemove Complete: Encountered errors -\n"
    "\t* During KOTA component uninstall.\n\n";
const std::string kUnchainedNodeStops = std::string("Stopping Service (Kelm Baseboard Agent)\n") + kNodeServiceStops;

// A .reg string line, escaped as regedit writes it.
constexpr auto& Str = testsupport::RegString;

// The legacy restart of an unchained node where every start succeeds.
const std::string kRestarted = std::string(kNodeServiceStarts) + kNodeAgentStart;

class OlderNodeEndToEnd : public testing::Test {
 protected:
  // "-g" over an unchained older node of this version: the report, the
  // legacy stop, the old files' deletions, the install and the restart.
  static std::string UnchainedInstall(const std::string& version, const std::string& restart,
                                      const std::string& deletions = "") {
    return std::string(kNnmHeading) + "Not a Mangement Station or Remote Console\nManaged Node version (" + version +
           ")\n\n" + kUnchainedNodeStops + "\n" + deletions + "\n" + kInstallBannerAfterReport + kNewDriver +
           "\nFound KOTA Version: 4.0 installed.\n" + restart + "\n" + kInstallOk;
  }
  void Import(const std::string& body) { m_.machine().Import(kReg + body); }
  std::string Host(const std::string& windows_path) { return m_.machine().HostPath(windows_path); }

  // The older node's services, all running, and its driver running from its
  // own old copy in the Windows drivers directory.
  void SeedNodeServices() {
    for (const char* name : {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "Kelm Local Response Agent", "SNMP"})
      m_.DefineService(e2e::Service(name, kRunning));
    m_.DefineService(e2e::Service("win32sl", kRunning, "Win32 DMI Service Layer"));
    ASSERT_TRUE(testsupport::WriteFile(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys"), "old driver"));
    m_.DefineService(testsupport::DriverService(kRunning));
  }

  // A reference's stored image, or "<none>" when it is not registered.
  static std::string Image(const std::string& reference) {
    char image[260];
    const std::string key = std::string(kComponentKey) + "\\References\\" + reference;
    return ReadRegistryText(key.c_str(), "PreProcImage", KEY_READ, image, sizeof image) ? image : "<none>";
  }

  e2e::ReleaseMachine m_;
};

// Both registrations present: the newer one's readings decide. An older
// version under the older key does not make the node older when the newer
// key names 4.0, and the reverse refuses; a newer key whose "PathName"
// cannot be read leaves no managed node at all, whatever the older key says.
TEST_F(OlderNodeEndToEnd, TheNewerRegistrationDecidesWhetherTheNodeIsOlder) {
  Import(kOlderNodeKey + Str("Version", "3.2.1") + Str("DMIPath", "C:\\DMI") + kNewerNodeKey + Str("Version", "4.0") +
         Str("PathName", "C:\\Suite\\ihv\\bin"));
  e2e::ToolRun r = m_.Run({"-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kInstallBanner) + kNewDriver + "\n" + kInstallOk);

  Import(kOlderNodeKey + Str("Version", "4.0") + kNewerNodeKey + Str("Version", "3.1"));
  r = m_.Run({"-k", "beta", "-p", "C:\\beta.exe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(kRefusalHeading) +
                       "Not a Mangement Station or Remote Console\nManaged Node version (3.1)\n\n" + e2e::UsageText());
  EXPECT_EQ(Image("BETA"), "<none>");

  // Without "PathName" the newer key clears the node, and "KelmPath" is not
  // read in its place: the applications' path stays empty.
  Import(std::string(kOlderNodeKey) + Str("Version", "3.0") + Str("DMIPath", "C:\\DMI") + kNewerNodeKey +
         "\"PathName\"=-\n" + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation]\n" +
         Str("KelmPath", "E:\\Kelm") +
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm Wardhaven Server Console\\Current Version]\n" +
         Str("Version", "5.1"));
  r = m_.Run({"-g", "-k", "beta", "-p", "C:\\beta.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kNnmHeading) +
                       "Console version (5.1), Wardhaven Applications\nProgram Files Path ()\nNot a Managed Node\n\n" +
                       kInstallBannerAfterReport + "Found KOTA Version: 4.0 installed.\n\n" + kInstallOk);
  EXPECT_EQ(Image("BETA"), "C:\\beta.exe");
  EXPECT_EQ(Image("BROMVELD"), "<none>");
}

// A 3.3 node known only by its older registration keeps its library below
// the suite's "KelmPath": that copy goes (read-only as it is), the system
// directory's library is not deleted but replaced by the install.
TEST_F(OlderNodeEndToEnd, OlderRegistrationOfThreeThreeDeletesTheLibraryBelowKelmPath) {
  Import(kOlderNodeKey + Str("Version", "3.3") + Str("DMIPath", "C:\\DMI") +
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation]\n" + Str("KelmPath", "C:\\Suite"));
  SeedNodeServices();
  const std::string old_library = Host("C:\\Suite\\bin\\qelmot32.dll");
  ASSERT_TRUE(testsupport::WriteFile(old_library, "old library"));
  ASSERT_EQ(chmod(old_library.c_str(), 0444), 0);
  e2e::ToolRun r = m_.Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, UnchainedInstall("3.3", kRestarted));
  EXPECT_FALSE(testsupport::FileExists(old_library));
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll")),
            testsupport::ReadFile(m_.release_dir() + "/nt_node/qelmot32.dll"));
  EXPECT_EQ(Image("ALPHA"), "C:\\alpha.exe");
  EXPECT_EQ(Image("BROMVELD"), "%SystemRoot%\\mevrid.exe -o");
}

// The report's console line for each kind of machine, through "-g" with a
// removal of a name that is not registered (which fails the same way each
// time, so the output around the report stays fixed).
TEST_F(OlderNodeEndToEnd, ReportOfEachConsoleKind) {
  struct Case {
    const char* what;
    std::string body;
    std::string report;
  };
  const std::string open_view =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\OpenView]\n" + Str("OV_PATH", "C:\\OV");
  const std::string nnm = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\OpenView\\Network Node Manager]\n";
  const std::string server_manager = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Kelm Server Manager\\Current Version]\n";
  const Case cases[] = {
      // OpenView without its Network Node Manager: no role, whatever console.
      {"no manager type", open_view + server_manager + Str("Version", "2.0"),
       "Console version (2.0), Unknown\nNot a Managed Node\n\n"},
      // The manager type matches in any letter case; the path of OpenView
      // and the language directory follow on their own line.
      {"console", open_view + nnm + Str("ManagerType", "console") + server_manager + Str("Version", "2.0"),
       "Console version (2.0), Remote Console\nOpenView Path (C:\\OV), Language Directory (C)\n"
       "Not a Managed Node\n\n"},
      // A manager type the probe does not know leaves no role.
      {"other type", open_view + nnm + Str("ManagerType", "STATION") + server_manager + Str("Version", "2.0"),
       "Console version (2.0), Unknown\nNot a Managed Node\n\n"},
      // A console version of 16 characters does not fit its 16 bytes with
      // the terminator: no console.
      {"long version",
       open_view + nnm + Str("ManagerType", "MANAGER") + server_manager + Str("Version", "2.0.0.0.0.0.0.00"),
       "Not a Mangement Station or Remote Console\nNot a Managed Node\n\n"},
  };
  for (const Case& c : cases) {
    Import("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard]\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm]\n" + c.body);
    e2e::ToolRun r = m_.Run({"-g", "-k", "x", "-r"});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, kNnmHeading + c.report + kRemoveBannerAfterReport +
                         "\tERROR: Could not delete referenced component - X\n" + kRemoveFailed)
        << c.what;
  }
}

// An OpenView manager without a suite console version is no management
// station: over an older node the EMANATE services are neither stopped nor
// started.
TEST_F(OlderNodeEndToEnd, OpenViewManagerWithoutConsoleVersionLeavesEmanateAlone) {
  Import(kOlderNodeKey + Str("Version", "3.1") + Str("DMIPath", "C:\\DMI") +
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\OpenView\\Network Node Manager]\n" +
         Str("ManagerType", "MANAGER"));
  SeedNodeServices();
  m_.DefineService(e2e::Service("EMANATE", kRunning, "SNMP EMANATE Master Agent"));
  m_.DefineService(e2e::Service("wpa", kRunning, "SNMP EMANATE Adapter for NT"));
  m_.AddFault("ControlService", "EMANATE", 5, 1000000);
  m_.AddFault("ControlService", "wpa", 5, 1000000);
  m_.AddFault("StartServiceA", "EMANATE", 5, 1000000);
  m_.AddFault("StartServiceA", "wpa", 5, 1000000);
  e2e::ToolRun r = m_.Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            UnchainedInstall("3.1", kRestarted, "\tERROR: Could not delete (C:\\WINDOWS\\system32\\qelmot32.dll)\n"));
  for (const auto& rule : emu::ListFaultRules()) EXPECT_EQ(rule.hits, 0) << rule.operation << " " << rule.match;
  EXPECT_EQ(m_.StateOf("EMANATE"), kRunning);
  EXPECT_EQ(m_.StateOf("wpa"), kRunning);
}

// The legacy restart's failures count for nothing: services that do not come
// back still leave a successful install and its summary.
TEST_F(OlderNodeEndToEnd, FailedLegacyRestartLeavesTheInstallSuccessful) {
  Import(kOlderNodeKey + Str("Version", "3.2") + Str("DMIPath", "C:\\DMI"));
  SeedNodeServices();
  ASSERT_TRUE(testsupport::WriteFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll"), "old library"));
  // SNMP and the baseboard agent stop, but fail their starts; the start of
  // the DMI layer is refused outright.
  for (const char* name : {"SNMP", "Kelm Baseboard Agent"}) {
    m_.RemoveService(name);
    emu::admin::ServiceSpec spec = e2e::Service(name, kRunning);
    spec.start_fails = true;
    spec.start_ms = 2000;
    m_.DefineService(spec);
  }
  m_.AddFault("StartServiceA", "win32sl", 1058);  // ERROR_SERVICE_DISABLED
  e2e::ToolRun r = m_.Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, UnchainedInstall("3.2",
                                    "Starting Service (Win32 DMI Service Layer)\n"
                                    "Starting Service (SNMP)..\n"
                                    "Starting Service (Kelm Baseboard Agent)..\n"));
  for (const char* name : {"SNMP", "Kelm Baseboard Agent", "win32sl"}) EXPECT_EQ(m_.StateOf(name), kStopped) << name;
  EXPECT_EQ(m_.StateOf("vtrin"), kRunning);
  EXPECT_EQ(Image("ALPHA"), "C:\\alpha.exe");
  EXPECT_EQ(Image("BROMVELD"), "%SystemRoot%\\mevrid.exe -o");
}

// "-q" over an older node: nothing printed, everything done.
TEST_F(OlderNodeEndToEnd, QuietInstallOverAnOlderNode) {
  Import(kNewerNodeKey + Str("Version", "3.4") + Str("PathName", "C:\\Program Files\\Kelm\\ihv\\bin"));
  SeedNodeServices();
  ASSERT_TRUE(testsupport::WriteFile(Host("C:\\Program Files\\Kelm\\bin\\qelmot32.dll"), "old library"));
  e2e::ToolRun r = m_.Run({"-k", "alpha", "-p", "C:\\alpha.exe", "-g", "-q"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\Program Files\\Kelm\\bin\\qelmot32.dll")));
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys")),
            testsupport::ReadFile(m_.release_dir() + "/nt_node/vtrin.sys"));
  EXPECT_EQ(Image("ALPHA"), "C:\\alpha.exe");
  EXPECT_EQ(Image("BROMVELD"), "%SystemRoot%\\mevrid.exe -o");
  for (const auto& info : emu::admin::ListServices()) EXPECT_EQ(info.state, kRunning) << info.name;
}

// The silent drop of the legacy reference follows every removal on a node
// that is no longer older, even one that fails: removing a name that was
// never registered reports its failure, and the legacy reference, the last
// one, goes with the whole component, without a line of its own. Its
// pre-processor, the installed tool, is told "-e" quietly.
TEST_F(OlderNodeEndToEnd, FailedRemovalStillDropsTheLegacyReference) {
  ASSERT_EQ(m_.Run({"-q", "-k", "bromveld", "-p", "%SystemRoot%\\mevrid.exe -o"}).status, 0);
  ASSERT_TRUE(m_.ServiceExists("vtrin"));
  // A rule that never fires only counts the calls that match it.
  m_.AddFault("CreateProcessA", "C:\\WINDOWS\\mevrid.exe -o -e -q", 5, 1000000);
  e2e::ToolRun r = m_.Run({"-k", "nothere", "-r"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("\n\n") + kRemoveBannerAfterReport +
                       "\tERROR: Could not delete referenced component - NOTHERE\n" + kRemoveFailed);
  const auto rules = emu::ListFaultRules();
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].hits, 1);
  EXPECT_FALSE(RegistryKeyExists(kComponentKey, KEY_READ));
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  for (const char* path :
       {"C:\\WINDOWS\\mevrid.exe", "C:\\WINDOWS\\system32\\qelmot32.dll", "C:\\WINDOWS\\system32\\drivers\\vtrin.sys"})
    EXPECT_FALSE(testsupport::FileExists(Host(path))) << path;
}

}  // namespace

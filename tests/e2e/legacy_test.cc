// The older-node handling through the built tool: the refusal, "-g" over
// older nodes of each kind, removals around the legacy reference, and the
// whole life of a legacy machine, with the whole output compared.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/registry_access.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/legacy_e2e_texts.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"

namespace {

using namespace legacye2e;

using testsupport::ProcessResult;

constexpr char kRemoveOk[] = "\nRemove Summary\n**************\nRemove Complete: No errors encountered.\n\n";

class LegacyEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    work_ = testsupport::MakeTempDir("mevrid-e2e-legacy");
    release_ = testsupport::MakeReleaseCopy(work_);
  }
  void TearDown() override { testsupport::RemoveTree(work_); }

  std::string Tool() const { return release_ + "/mevrid.exe"; }
  ProcessResult Run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), Tool());
    return testsupport::RunProgram(args, release_, env);
  }
  std::string Host(const std::string& windows_path) const { return machine_.HostPath(windows_path); }
  std::string Usage() const { return e2e::UsageText(Tool()); }

  void SeedOlderNode(const std::string& version) {
    machine_.Import(kReg + (kOlderNodeKey + ("\"Version\"=\"" + version + "\"\n\"DMIPath\"=\"C:\\\\DMI\"\n")));
  }
  void SeedManagementStation() {
    machine_.Import(std::string(kReg) +
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\Kelm Server Manager\\Current Version]\n"
                    "\"Version\"=\"2.1\"\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\OpenView]\n"
                    "\"OV_PATH\"=\"C:\\\\OV\"\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\OpenView\\Network Node Manager]\n"
                    "\"ManagerType\"=\"MANAGER\"\n");
  }
  static void Define(const std::string& name, const std::string& display, std::vector<std::string> depends = {}) {
    emu::admin::ServiceSpec spec = testsupport::Service(name, kRunning, display);
    spec.depends = std::move(depends);
    std::string error;
    ASSERT_TRUE(emu::admin::DefineService(spec, &error)) << error;
  }
  // The older node's services, all running, and its own copies of the
  // library and driver, the driver running from its copy.
  void SeedNodeInstallation() {
    Define("Gandrel2Service", "");
    Define("Tobrael", "");
    Define("Kelm Baseboard Agent", "");
    Define("Kelm Local Response Agent", "", {"Kelm Baseboard Agent"});
    Define("SNMP", "SNMP");
    Define("win32sl", "Win32 DMI Service Layer");
    ASSERT_TRUE(testsupport::WriteFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll"), "old library"));
    ASSERT_TRUE(testsupport::WriteFile(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys"), "old driver"));
    emu::admin::ServiceSpec driver = testsupport::DriverService(kRunning);
    std::string error;
    ASSERT_TRUE(emu::admin::DefineService(driver, &error)) << error;
  }
  static uint32_t State(const std::string& name) {
    emu::admin::ServiceInfo info;
    std::string error;
    return emu::admin::QueryService(name, &info, &error) ? info.state : 0;
  }
  // A reference's stored image, or "<none>" when it is not registered.
  static std::string Image(const std::string& reference) {
    char image[260];
    const std::string key = std::string(kComponentKey) + "\\References\\" + reference;
    return ReadRegistryText(key.c_str(), "PreProcImage", KEY_READ, image, sizeof image) ? image : "<none>";
  }
  static bool ComponentKeyExists() { return RegistryKeyExists(kComponentKey, KEY_READ); }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
  std::string Report(const std::string& version) const {
    return "Not a Mangement Station or Remote Console\nManaged Node version (" + version + ")\n\n";
  }
  // What "-g" prints on a plain older node up to the legacy steps.
  std::string PreparedInstall(const std::string& version, const std::string& deletions = "") const {
    return kNnmHeading + Report(version) + kNodeStops + kNodeServiceStops + "\n" + deletions + "\n" + kInstallBannerAfterReport +
           kNewDriver + "\n";
  }
  // The whole of "-g" on a plain older node whose library was replaced: the
  // install, then the legacy restart of the node's services.
  std::string WholeInstall(const std::string& version) const {
    return PreparedInstall(version) + "Found KOTA Version: 4.0 installed.\n" + kNodeServiceStarts + kNodeAgentStart +
           "\n" + kInstallOk;
  }

  testsupport::TestMachine machine_;
  std::string work_;
  std::string release_;
};

TEST_F(LegacyEndToEnd, OrdinaryInstallIsRefusedOnOlderNodes) {
  for (const char* version : {"3.0", "3.1", "3.2", "3.2.1", "3.3", "3.4"}) {
    SeedOlderNode(version);
    ProcessResult r = Run({"-k", "alpha", "-p", "C:\\alpha.exe"});
    EXPECT_EQ(r.status, 1) << version;
    EXPECT_EQ(r.out, "\n\nDetected older version of NNM/SE\n********************************\n\n" + Report(version) +
                         Usage())
        << version;
    r = Run({"-q", "-k", "alpha", "-p", "C:\\alpha.exe"});
    EXPECT_EQ(r.status, 1) << version;
    EXPECT_EQ(r.out, "") << version;
  }
  EXPECT_FALSE(ComponentKeyExists());
  EXPECT_EQ(State("vtrin"), 0u);
}

TEST_F(LegacyEndToEnd, NewerOrAbsentNodeInstallsAsUsual) {
  SeedOlderNode("3.5");
  ProcessResult r = Run({"-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("\n\n") + kInstallBannerAfterReport + kNewDriver + "\n" + kInstallOk);
  // A registration without its DMI path does not count, whatever version it
  // names.
  machine_.Import(kReg + (kOlderNodeKey + std::string("\"Version\"=\"3.2\"\n\"DMIPath\"=-\n")));
  r = Run({"-k", "beta", "-p", "C:\\beta.exe", "-q"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Image("BETA"), "C:\\beta.exe");
  EXPECT_EQ(Image("BROMVELD"), "<none>");
}

TEST_F(LegacyEndToEnd, OverOlderNodeThreeTwoOneReplacesTheSystemCopies) {
  SeedOlderNode("3.2.1");
  SeedNodeInstallation();
  ASSERT_TRUE(testsupport::WriteFile(Host("C:\\Kelm\\bin\\qelmot32.dll"), "program files library"));
  ProcessResult r = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, WholeInstall("3.2.1"));
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll")),
            testsupport::ReadFile(release_ + "/nt_node/qelmot32.dll"));
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys")),
            testsupport::ReadFile(release_ + "/nt_node/vtrin.sys"));
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\Kelm\\bin\\qelmot32.dll")), "program files library");
  EXPECT_EQ(Image("ALPHA"), "C:\\alpha.exe");
  EXPECT_EQ(Image("BROMVELD"), "%SystemRoot%\\mevrid.exe -o");
  for (const char* name : {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "Kelm Local Response Agent", "SNMP",
                           "win32sl", "vtrin"}) {
    EXPECT_EQ(State(name), kRunning) << name;
  }
}

TEST_F(LegacyEndToEnd, OverOlderNodeThreeFourDeletesTheProgramFilesLibrary) {
  machine_.Import(std::string(kReg) +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion]\n"
                  "\"Version\"=\"3.4\"\n\"PathName\"=\"C:\\\\Program Files\\\\Kelm\\\\ihv\\\\bin\"\n");
  SeedNodeInstallation();
  ASSERT_TRUE(testsupport::WriteFile(Host("C:\\Program Files\\Kelm\\bin\\qelmot32.dll"), "program files library"));
  ProcessResult r = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, WholeInstall("3.4"));
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\Program Files\\Kelm\\bin\\qelmot32.dll")));
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll")),
            testsupport::ReadFile(release_ + "/nt_node/qelmot32.dll"));
  EXPECT_EQ(Image("BROMVELD"), "%SystemRoot%\\mevrid.exe -o");
}

TEST_F(LegacyEndToEnd, OverOlderNodeThatIsAlsoAManagementStation) {
  SeedOlderNode("3.3");
  SeedManagementStation();
  SeedNodeInstallation();
  Define("EMANATE", "SNMP EMANATE Master Agent");
  Define("wpa", "SNMP EMANATE Adapter for NT");
  // The silent node agents print nothing; rules that never fire count their
  // stop and start requests.
  const char* const kSilentAgents[] = {"Gandrel2Service", "Tobrael", "Kelm Local Response Agent"};
  for (const char* agent : kSilentAgents) {
    ASSERT_TRUE(emu::AddFaultRule("ControlService", agent, 5, 1000000, false));
    ASSERT_TRUE(emu::AddFaultRule("StartServiceA", agent, 5, 1000000, false));
  }
  ProcessResult r = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  // Version 3.3 keeps its library below the program files path, which this
  // node does not record: the deletion names the path it was given.
  EXPECT_EQ(r.out, std::string(kNnmHeading) +
                       "Console version (2.1), Management Station\nOpenView Path (C:\\OV), Language Directory (C)\n"
                       "Managed Node version (3.3)\n\n" +
                       kNodeStops +
                       "Stopping Service (SNMP EMANATE Adapter for NT)\n"
                       "Stopping Service (SNMP EMANATE Master Agent)\n" +
                       kNodeServiceStops + "\n\tERROR: Could not delete (\\bin\\qelmot32.dll)\n\n" + kInstallBannerAfterReport +
                       kNewDriver + "\nFound KOTA Version: 4.0 installed.\n" + kNodeServiceStarts +
                       "Starting Service (SNMP EMANATE Master Agent)\n"
                       "Starting Service (SNMP EMANATE Adapter for NT)\n" +
                       kNodeAgentStart + "\n" + kInstallOk);
  for (const auto& rule : emu::ListFaultRules()) EXPECT_EQ(rule.hits, 1) << rule.operation << " " << rule.match;
  for (const auto& info : emu::admin::ListServices()) EXPECT_EQ(info.state, kRunning) << info.name;
}

// Removals on a node that got the legacy reference from a "-g" install: one
// with "-g" on the still older node keeps the legacy reference, and the legacy
// reference can itself be removed by name once the node is no longer older.
struct LegacyRemoval {
  const char* name;
  const char* node_version_then;  // the node as it is at the removal; nullptr: unchanged
  std::vector<std::string> args;
  std::string out;
  const char* alpha_image;
  const char* bromveld_image;
};
// Cases show by name in test listings and failures.
void PrintTo(const LegacyRemoval& c, std::ostream* os) { *os << c.name; }

const LegacyRemoval kLegacyRemovals[] = {
    {"OverOlderRemovalKeepsTheLegacyReference", nullptr, {"-k", "alpha", "-r", "-g"},
     std::string(kNnmHeading) + "Not a Mangement Station or Remote Console\nManaged Node version (3.2.1)\n\n" +
         kRemoveBannerAfterReport + kRemoveOk,
     "<none>", "%SystemRoot%\\mevrid.exe -o"},
    {"RemovingBromveldByName", "4.0", {"-k", "bromveld", "-r"},
     std::string("\n\n") + kRemoveBannerAfterReport + kRemoveOk, "C:\\alpha.exe", "<none>"},
};

class LegacyRemovalEndToEnd : public LegacyEndToEnd, public testing::WithParamInterface<LegacyRemoval> {};

TEST_P(LegacyRemovalEndToEnd, RemovesOnlyItsReference) {
  const LegacyRemoval& c = GetParam();
  SeedOlderNode("3.2.1");
  SeedNodeInstallation();
  ASSERT_EQ(Run({"-g", "-q", "-k", "alpha", "-p", "C:\\alpha.exe"}).status, 0);
  if (c.node_version_then) SeedOlderNode(c.node_version_then);
  ProcessResult r = Run(c.args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(Image("ALPHA"), c.alpha_image);
  EXPECT_EQ(Image("BROMVELD"), c.bromveld_image);
  EXPECT_EQ(State("vtrin"), kRunning);
}

INSTANTIATE_TEST_SUITE_P(Removals, LegacyRemovalEndToEnd, testing::ValuesIn(kLegacyRemovals),
                         [](const testing::TestParamInfo<LegacyRemoval>& info) { return std::string(info.param.name); });

// The legacy reference's pre-processor is the installed tool with "-o": a
// full install notifies it, and it ends at once with status 0, long before
// the two minutes a pre-processor may take.
TEST_F(LegacyEndToEnd, InstalledToolServesAsTheLegacyPreProcessor) {
  SeedOlderNode("3.2.1");
  SeedNodeInstallation();
  ASSERT_EQ(Run({"-g", "-q", "-k", "alpha", "-p", "C:\\missing\\alpha.exe"}).status, 0);
  SeedOlderNode("4.0");
  // An older component version recorded: the next install is a full one.
  machine_.Import(std::string(kReg) +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\n"
                  "\"Version\"=\"3.9\"\n");
  // Rules that never fire (their n-th call never comes) only count the calls
  // that match them, in the tool and in every process it starts. A wait is
  // made only for a process that was started.
  const char* const kWatched[][2] = {{"CreateProcessA", "C:\\WINDOWS\\mevrid.exe -o -e"},
                                     {"WaitForSingleObject", "C:\\WINDOWS\\mevrid.exe -o -e"},
                                     {"CreateProcessA", "C:\\WINDOWS\\mevrid.exe -o -b"},
                                     {"WaitForSingleObject", "C:\\WINDOWS\\mevrid.exe -o -b"},
                                     {"CreateProcessA", "alpha.exe"}};
  for (const auto& watched : kWatched) ASSERT_TRUE(emu::AddFaultRule(watched[0], watched[1], 5, 1000000, false));
  const long long before = machine_.NowMs();
  ProcessResult r = Run({"-k", "beta", "-p", "C:\\missing\\beta.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("\n\n") + kInstallBannerAfterReport + "Found KOTA Version: 3.9 installed.\n" +
                       "\nStopping: ALPHA\n\nStopping: BROMVELD\n" + kNewDriver +
                       "\nStarting: ALPHA\n\nStarting: BROMVELD\n\n" + kInstallOk);
  const auto rules = emu::ListFaultRules();
  ASSERT_EQ(rules.size(), 5u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rules[i].hits, 1) << rules[i].operation << " " << rules[i].match;
  EXPECT_EQ(rules[4].hits, 2);
  // Each run ended within the short real time a virtual clock allows a
  // process, printing nothing: no two-minute timeout was counted.
  EXPECT_LT(machine_.NowMs() - before, 120000);
  EXPECT_EQ(testsupport::ReadFile(machine_.dir() + "/console.log"), "");
  // The installed copy itself, as the notifications run it.
  for (const char* end_or_begin : {"-e", "-b"}) {
    ProcessResult direct =
        testsupport::RunProgram({Host("C:\\WINDOWS\\mevrid.exe"), "-o", end_or_begin, "-q"}, release_);
    EXPECT_EQ(direct.status, 0) << end_or_begin;
    EXPECT_EQ(direct.out, "") << end_or_begin;
  }
  EXPECT_EQ(Image("BETA"), "C:\\missing\\beta.exe");
}

TEST_F(LegacyEndToEnd, LifeOfALegacyMachine) {
  SeedOlderNode("3.2.1");
  SeedNodeInstallation();
  ProcessResult r = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(Image("BROMVELD"), "%SystemRoot%\\mevrid.exe -o");

  // While the node is older, an ordinary install is refused.
  ASSERT_EQ(Run({"-q", "-k", "beta", "-p", "C:\\beta.exe"}).status, 1);
  // The node is upgraded: its version key changes.
  SeedOlderNode("4.1");
  r = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(r.status, 0);
  // The legacy reference goes silently, and with it the component.
  EXPECT_EQ(r.out, std::string("\n\n") + kRemoveBannerAfterReport + kRemoveOk);
  EXPECT_FALSE(ComponentKeyExists());
  EXPECT_EQ(State("vtrin"), 0u);
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\WINDOWS\\system32\\qelmot32.dll")));
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys")));
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\WINDOWS\\mevrid.exe")));
  // The older installation's own services are left as they are.
  EXPECT_EQ(State("SNMP"), kRunning);
  EXPECT_EQ(State("Kelm Baseboard Agent"), kRunning);
}

// Every stop of the preparation counts, the driver's included: a node that
// never had the driver service (no install of this tool deleted it) keeps
// the refusal. The run ends at that stop with status 1, before any file is
// deleted or anything installed, and the services the preparation stopped
// are started again.
TEST_F(LegacyEndToEnd, OverOlderNodeThatNeverHadTheDriverServiceIsRefused) {
  SeedOlderNode("3.2");
  SeedNodeInstallation();
  std::string error;
  ASSERT_TRUE(emu::admin::RemoveServiceDefinition("vtrin", &error)) << error;
  ProcessResult r = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kNnmHeading + Report("3.2") + kNodeStops +
                       "Stopping Service (SNMP)\n"
                       "Stopping Service (Win32 DMI Service Layer)\n"
                       "\tERROR: Could not open handle to service - vtrin\n\n" +
                       kNodeServiceStarts + kNodeAgentStart);
  EXPECT_FALSE(ComponentKeyExists());
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll")), "old library");
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys")), "old driver");
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\WINDOWS\\mevrid.exe")));
  EXPECT_EQ(State("vtrin"), 0u);
  for (const char* name : {"Kelm Baseboard Agent", "SNMP", "win32sl"}) EXPECT_EQ(State(name), kRunning) << name;
}

// A "-g" run killed after the old driver service was deleted and before the
// new one was created leaves version 4.0 recorded, no driver service and no
// reference. The same command again finishes the job.
TEST_F(LegacyEndToEnd, AnInterruptedOverOlderInstallIsFinishedByTheSameCommand) {
  SeedOlderNode("3.2.1");
  SeedNodeInstallation();
  const std::vector<std::string> command = {"-g", "-k", "alpha", "-p", "C:\\alpha.exe"};
  ASSERT_TRUE(emu::AddFaultRule("CreateServiceA", "vtrin", emu::kFaultCrashHere, 1, false));
  ASSERT_EQ(Run(command).status, 128 + 9);
  emu::ClearFaultRules();
  ASSERT_EQ(State("vtrin"), 0u);

  ProcessResult r = Run(command);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kNnmHeading + Report("3.2.1") +
                       // The dependent agent was stopped by the killed run.
                       "Stopping Service (Kelm Baseboard Agent)\n" +
                       "Stopping Service (SNMP)\n"
                       "Stopping Service (Win32 DMI Service Layer)\n"
                       "\tERROR: Could not open handle to service - vtrin\n\n\n" + kInstallBannerAfterReport + "Found KOTA Version: 4.0 installed.\n" + kNewDriver + "\n" +
                       "Found KOTA Version: 4.0 installed.\n" + kNodeServiceStarts + kNodeAgentStart + "\n" +
                       kInstallOk);
  EXPECT_EQ(Image("ALPHA"), "C:\\alpha.exe");
  EXPECT_EQ(Image("BROMVELD"), "%SystemRoot%\\mevrid.exe -o");
  for (const char* name : {"Kelm Baseboard Agent", "Kelm Local Response Agent", "SNMP", "win32sl", "vtrin"})
    EXPECT_EQ(State(name), kRunning) << name;
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys")),
            testsupport::ReadFile(release_ + "/nt_node/vtrin.sys"));
  char marker[260];
  EXPECT_FALSE(ReadRegistryText(kComponentKey, "ChangeInProgress", KEY_READ, marker, sizeof marker));
}

// Without the Windows directory the preparation ends after the stops: the
// old copies stay, nothing is installed, and the services it stopped run
// again on them.
TEST_F(LegacyEndToEnd, OverOlderNodeWithoutSystemRootEndsAfterTheStops) {
  SeedOlderNode("3.1");
  SeedNodeInstallation();
  ProcessResult r = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"}, {"SystemRoot="});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kNnmHeading + Report("3.1") + kNodeStops + kNodeServiceStops +
                       "\n\tERROR: Could not determine %SystemRoot% directory.\n" + kNodeServiceStarts +
                       kNodeAgentStart);
  EXPECT_FALSE(ComponentKeyExists());
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll")), "old library");
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys")), "old driver");
  for (const char* name : {"Kelm Baseboard Agent", "SNMP", "win32sl", "vtrin"}) EXPECT_EQ(State(name), kRunning) << name;
}

// "-g" where no older node is found shows what the probe found and installs
// as usual: no service is stopped, no legacy reference registered. The
// report shows the suite's applications with the remote assistant server as
// console 1.3, and the newer node's path without its "\ihv\bin".
TEST_F(LegacyEndToEnd, OverOlderWithoutAnOlderNodeOnlyShowsTheReport) {
  machine_.Import(std::string(kReg) +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion]\n"
                  "\"Version\"=\"4.0\"\n\"PathName\"=\"D:\\\\Suite\\\\ihv\\\\bin\\\\x\"\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm Remote Assistant Server\\"
                  "Current Version]\n\"Version\"=\"7.2\"\n"
                  "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Kelm Remote Assistant Server]\n");
  Define("SNMP", "SNMP");
  ProcessResult r = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kNnmHeading) +
                       "Console version (1.3), Wardhaven Applications\nProgram Files Path (D:\\Suite)\n"
                       "Managed Node version (4.0)\n\n" +
                       kInstallBannerAfterReport + kNewDriver + "\n" + kInstallOk);
  EXPECT_EQ(Image("ALPHA"), "C:\\alpha.exe");
  EXPECT_EQ(Image("BROMVELD"), "<none>");
  EXPECT_EQ(State("SNMP"), kRunning);

  // A removal with "-g" shows the same report, then removes as usual.
  r = Run({"/G", "-k", "beta", "-r"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(kNnmHeading) +
                       "Console version (1.3), Wardhaven Applications\nProgram Files Path (D:\\Suite)\n"
                       "Managed Node version (4.0)\n\n" +
                       kRemoveBannerAfterReport + "\tERROR: Could not delete referenced component - BETA\n" +
                       "\nRemove Summary\n**************\nRemove Complete: Encountered errors -\n"
                       "\t* During KOTA component uninstall.\n\n");
}

// What the probe finds on a management station that is no managed node:
// OpenView decides the role over the suite's console, and the language
// directory follows the user's locale.
TEST_F(LegacyEndToEnd, ReportOfAJapaneseManagementStation) {
  SeedManagementStation();
  machine_.Import(std::string(kReg) +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm Wardhaven Server Console\\"
                  "Current Version]\n\"Version\"=\"9.9\"\n");
  emu::SetSetting("user-locale", "Japanese_Japan.932");
  ProcessResult r = Run({"-g", "-q", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = Run({"-g", "-k", "alpha", "-r"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kNnmHeading) +
                       "Console version (2.1), Management Station\n"
                       "OpenView Path (C:\\OV), Language Directory (Japanese_Japan.932)\n"
                       "Not a Managed Node\n\n" +
                       kRemoveBannerAfterReport +
                       "Stopping Service (Kelm Embedded System Management Driver)\n"
                       "Removing Service (Kelm Embedded System Management Driver).\n" +
                       kRemoveOk);
  EXPECT_FALSE(ComponentKeyExists());
}

}  // namespace

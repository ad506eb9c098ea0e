// The older-node handling in process: which node versions count as older,
// the refusal, the legacy preparation's early ends and the files it deletes,
// the legacy reference after the install, and the silent drop after a removal.
#include "cli/legacy_handling.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <fcntl.h>  // the fixture sets file times relative to AT_FDCWD

#include "component/component_keys.h"
#include "tests/support/component_fixture.h"
#include "tests/support/usage_text.h"

namespace {

constexpr char kReg[] = "Windows Registry Editor Version 5.00\n\n";
constexpr uint32_t kRunning = 4;
constexpr uint32_t kStopped = 1;

const std::string kUsage = testsupport::UsageText("prog");

class LegacyHandling : public componenttest::ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    emu::SetCallTrace(&trace_);
  }
  void TearDown() override {
    emu::SetCallTrace(nullptr);
    ComponentTest::TearDown();
  }

  // The older registration of a managed node (complete with its DMI path).
  void SeedNode(const std::string& version) {
    machine_.Import(std::string(kReg) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\n\"Version\"=\"" +
                    version + "\"\n\"DMIPath\"=\"C:\\\\DMI\"\n");
  }
  // The newer registration, with the suite's program files path.
  void SeedNewerNode(const std::string& version, const std::string& program_files) {
    std::string escaped;
    for (char c : program_files) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    machine_.Import(std::string(kReg) +
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion]\n"
                    "\"Version\"=\"" + version + "\"\n\"PathName\"=\"" + escaped + "\\\\ihv\\\\bin\"\n");
  }
  // The services of the older node, all running.
  void DefineNodeServices() {
    for (const char* name : {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "Kelm Local Response Agent", "SNMP",
                             "win32sl"}) {
      std::string error;
      ASSERT_TRUE(emu::admin::DefineService(testsupport::Service(name, kRunning), &error)) << error;
    }
    PutFile(Host(componenttest::kInstalledDriver), "old driver");
    DefineDriver("vtrin", "System32\\drivers\\vtrin.sys", kRunning);
  }

  struct Decision {
    ReferenceMode mode;
    int exit_status;
    LegacyState state;
    std::string out;
  };
  Decision Decide(const char* reference, Flag over_older, Flag remove, Flag verbose = 1) {
    RunOptions options;
    std::strcpy(options.ReferenceName, reference);
    std::strcpy(options.PreProcImage, "C:\\pre.exe");
    options.OverOlder = over_older;
    options.Remove = remove;
    options.Verbose = verbose;
    Decision d{ReferenceMode::Exit, -1, {}, {}};
    d.out = Captured([&] { d.mode = DecideReferenceMode(options, "prog", &d.state, &d.exit_status); });
    return d;
  }
  int Count(const std::string& operation, const std::string& part) const {
    int n = 0;
    for (const std::string& line : trace_)
      if (line.rfind(operation + " ", 0) == 0 && line.find(part) != std::string::npos) ++n;
    return n;
  }

  std::vector<std::string> trace_;
};

TEST_F(LegacyHandling, OnlyVersionsThreeZeroToThreeFourCountAsOlder) {
  for (const char* version : {"3.0", "3.1", "3.2", "3.2.1", "3.3", "3.4"}) {
    SeedNode(version);
    Decision d = Decide("ALPHA", 0, 0, 0);
    EXPECT_EQ(d.mode, ReferenceMode::Exit) << version;
    EXPECT_EQ(d.exit_status, 1) << version;
    EXPECT_EQ(d.state.OlderNode, 1) << version;
    EXPECT_EQ(d.out, "") << version;
  }
  for (const char* version : {"3.5", "2.9", "3.21", "3.4.1", "3", "4.0", ""}) {
    SeedNode(version);
    Decision d = Decide("ALPHA", 0, 0);
    EXPECT_EQ(d.mode, ReferenceMode::Install) << version;
    EXPECT_EQ(d.state.OlderNode, 0) << version;
    EXPECT_EQ(d.out, "") << version;
  }
  // The version is read, but the registration is incomplete: not a node.
  machine_.Import(std::string(kReg) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\n\"DMIPath\"=-\n"
                  "\"Version\"=\"3.2\"\n");
  EXPECT_EQ(Decide("ALPHA", 0, 0).mode, ReferenceMode::Install);
}

TEST_F(LegacyHandling, RefusalShowsHeadingReportAndUsageOnlyWhenVerbose) {
  SeedNode("3.2.1");
  Decision d = Decide("ALPHA", 0, 0);
  EXPECT_EQ(d.mode, ReferenceMode::Exit);
  EXPECT_EQ(d.exit_status, 1);
  EXPECT_EQ(d.out, std::string("Detected older version of NNM/SE\n********************************\n\n"
                               "Not a Mangement Station or Remote Console\nManaged Node version (3.2.1)\n\n") +
                       kUsage);
  // A removal on the older node is no install: it goes ahead, and the node
  // keeps its legacy reference.
  d = Decide("ALPHA", 0, 1);
  EXPECT_EQ(d.mode, ReferenceMode::Remove);
  EXPECT_EQ(d.state.OlderNode, 1);
  EXPECT_EQ(d.out, "");
}

TEST_F(LegacyHandling, OverOlderWithoutOlderNodeOnlyShowsTheReport) {
  SeedNode("3.5");
  Decision d = Decide("ALPHA", 1, 0);
  EXPECT_EQ(d.mode, ReferenceMode::Install);
  EXPECT_EQ(d.state.AddLegacyReference, 0);
  EXPECT_EQ(d.out,
            "NNM/SE Components\n*****************\n\n"
            "Not a Mangement Station or Remote Console\nManaged Node version (3.5)\n\n");
  EXPECT_EQ(Decide("ALPHA", 1, 0, 0).out, "");
}

TEST_F(LegacyHandling, OverOlderRemovalSkipsThePreparation) {
  SeedNode("3.1");
  DefineNodeServices();
  Decision d = Decide("ALPHA", 1, 1);
  EXPECT_EQ(d.mode, ReferenceMode::Remove);
  EXPECT_EQ(d.state.OlderNode, 1);
  EXPECT_EQ(d.state.AddLegacyReference, 0);
  EXPECT_EQ(Count("ControlService", ""), 0);
  EXPECT_TRUE(testsupport::FileExists(Host(componenttest::kInstalledDriver)));
}

// A preparation that fails has deleted nothing: the run ends with 1, and the
// services it stopped run again on their old files, the driver first.
TEST_F(LegacyHandling, AFailedPreparationStartsAgainWhatItStopped) {
  struct Case {
    const char* name;
    bool dmi_missing;        // the counted stop of "win32sl" fails
    bool system_root_unset;  // the Windows directory cannot be found
    std::string tail;
  };
  const Case cases[] = {
      {"failed stop", true, false,
       "\tERROR: Could not open handle to service - win32sl\n"
       "Stopping Service (Kelm Embedded System Management Driver)\n\n"
       "\tERROR: Could not open handle to service - win32sl\n"
       "Starting Service (SNMP)\n"
       "Starting Service (Kelm Baseboard Agent)\n"},
      {"no Windows directory", false, true,
       "Stopping Service (Kelm Embedded System Management Driver)\n\n"
       "\tERROR: Could not determine %SystemRoot% directory.\n"
       "Starting Service (Win32 DMI Service Layer)\n"
       "Starting Service (SNMP)\n"
       "Starting Service (Kelm Baseboard Agent)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SeedNode("3.2");
    DefineNodeServices();
    std::string error;
    if (c.dmi_missing) {
      ASSERT_TRUE(emu::admin::RemoveServiceDefinition("win32sl", &error)) << error;
    }
    if (c.system_root_unset) setenv("SystemRoot", "", 1);
    PutFile(Host(componenttest::kInstalledLibrary), "old library");
    trace_.clear();
    Decision d = Decide("ALPHA", 1, 0);
    EXPECT_EQ(d.mode, ReferenceMode::Exit);
    EXPECT_EQ(d.exit_status, 1);
    ASSERT_GE(d.out.size(), c.tail.size());
    EXPECT_EQ(d.out.substr(d.out.size() - c.tail.size()), c.tail);
    EXPECT_TRUE(testsupport::FileExists(Host(componenttest::kInstalledLibrary)));
    EXPECT_TRUE(testsupport::FileExists(Host(componenttest::kInstalledDriver)));
    // The driver starts before the agents that hold it open.
    EXPECT_EQ(Count("StartServiceA", "vtrin"), 1);
    for (const char* name : {"SNMP", "Kelm Baseboard Agent", "Kelm Local Response Agent", "vtrin"}) {
      emu::admin::ServiceInfo info;
      ASSERT_TRUE(ServiceExists(name, &info));
      EXPECT_EQ(info.state, kRunning) << name;
    }
    for (const auto& info : emu::admin::ListServices())
      ASSERT_TRUE(emu::admin::RemoveServiceDefinition(info.name, &error)) << error;
    unsetenv("SystemRoot");
  }
}

// A node registered without a program files path would have its library
// deleted at the drive's root: that deletion is passed over, with the line
// of a failed deletion, and the file there is left alone.
TEST_F(LegacyHandling, AnEmptyProgramFilesPathDeletesNothingAtTheRoot) {
  SeedNewerNode("3.3", "");
  DefineNodeServices();
  PutFile(Host("C:\\bin\\qelmot32.dll"), "not the node's library");
  Decision d = Decide("ALPHA", 1, 0);
  EXPECT_EQ(d.mode, ReferenceMode::Install);
  const std::string tail =
      "Stopping Service (Kelm Embedded System Management Driver)\n\n"
      "\tERROR: Could not delete (\\bin\\qelmot32.dll)\n\n";
  ASSERT_GE(d.out.size(), tail.size());
  EXPECT_EQ(d.out.substr(d.out.size() - tail.size()), tail);
  EXPECT_TRUE(testsupport::FileExists(Host("C:\\bin\\qelmot32.dll")));
  EXPECT_FALSE(testsupport::FileExists(Host(componenttest::kInstalledDriver)));
}

TEST_F(LegacyHandling, PreparationDeletesTheProgramFilesLibraryOfThreeThreeAndThreeFour) {
  for (const char* version : {"3.3", "3.4"}) {
    SeedNewerNode(version, "C:\\Kelm");
    DefineNodeServices();
    PutFile(Host(componenttest::kInstalledLibrary), "system library");
    Decision d = Decide("ALPHA", 1, 0);
    EXPECT_EQ(d.mode, ReferenceMode::Install) << version;
    // The program files copy is missing: its deletion fails and names it.
    const std::string tail =
        "Stopping Service (Kelm Embedded System Management Driver)\n\n"
        "\tERROR: Could not delete (C:\\Kelm\\bin\\qelmot32.dll)\n\n";
    EXPECT_EQ(d.out.substr(d.out.size() - tail.size()), tail) << version;
    EXPECT_TRUE(testsupport::FileExists(Host(componenttest::kInstalledLibrary))) << version;
    EXPECT_FALSE(testsupport::FileExists(Host(componenttest::kInstalledDriver))) << version;
    std::string error;
    for (const auto& info : emu::admin::ListServices()) {
      ASSERT_TRUE(emu::admin::RemoveServiceDefinition(info.name, &error)) << error;
    }
  }
}

TEST_F(LegacyHandling, OverlongProgramFilesPathIsNeverCut) {
  // 250 characters of program files path: with "\bin\qelmot32.dll" the path
  // has 267, and its first 259 would name "...\bin\qelm".
  const std::string program_files = "C:\\" + std::string(247, 'P');
  SeedNewerNode("3.4", program_files);
  DefineNodeServices();
  PutFile(Host(program_files + "\\bin\\qelm"), "not the library");
  Decision d = Decide("ALPHA", 1, 0);
  EXPECT_EQ(d.mode, ReferenceMode::Install);
  const std::string tail = "\n\tERROR: Could not delete (" + program_files + "\\bin\\qelmot32.dll)\n\n";
  EXPECT_EQ(d.out.substr(d.out.size() - tail.size()), tail);
  EXPECT_TRUE(testsupport::FileExists(Host(program_files + "\\bin\\qelm")));
  EXPECT_FALSE(testsupport::FileExists(Host(componenttest::kInstalledDriver)));
}

TEST_F(LegacyHandling, LegacyReferenceFollowsTheInstallOnlyWhenPrepared) {
  SeedNode("3.2.1");
  DefineNodeServices();
  RunOptions options;
  std::strcpy(options.ReferenceName, "ALPHA");
  LegacyState state;
  EXPECT_EQ(Captured([&] { FinishLegacyInstall(options, state); }), "");
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\BROMVELD"));

  state.Roles.ManagedNode = 1;
  state.AddLegacyReference = 1;
  std::string out = Captured([&] { FinishLegacyInstall(options, state); });
  // The component is not installed yet, so this is a full install for the
  // legacy reference; the legacy services and the closing line follow it.
  const std::string tail =
      "Starting Service (Win32 DMI Service Layer)\n"
      "Starting Service (SNMP)\n"
      "Starting Service (Kelm Baseboard Agent)\n\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  std::string image;
  DWORD type = 0;
  ASSERT_TRUE(GetRegistryBytes(std::string(kKotaReferencesKey) + "\\BROMVELD", "PreProcImage", &image, &type));
  EXPECT_EQ(image, "%SystemRoot%\\mevrid.exe -o");
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
}

TEST_F(LegacyHandling, LegacyReferenceIsDroppedOnceWhenTheNodeIsNoLongerOlder) {
  auto drop = [&](const char* name, Flag older) {
    RunOptions options;
    std::strcpy(options.ReferenceName, name);
    options.Remove = 1;
    LegacyState state;
    state.OlderNode = older;
    trace_.clear();
    return Captured([&] { DropLegacyReference(options, state); });
  };
  EXPECT_EQ(drop("BROMVELD", 0), "");
  EXPECT_EQ(Count("RegDeleteKeyA", "BROMVELD"), 0);
  EXPECT_EQ(drop("ALPHA", 1), "");
  EXPECT_EQ(Count("RegDeleteKeyA", "BROMVELD"), 0);
  // Only the exact upper-case name is the legacy reference.
  EXPECT_EQ(drop("BROMVELDX", 0), "");
  EXPECT_EQ(Count("RegDeleteKeyA", "BROMVELD"), 1);
  SetRegistryBytes(std::string(kKotaReferencesKey) + "\\BROMVELD", "PreProcImage", REG_EXPAND_SZ, "C:\\missing.exe -o");
  SetRegistryBytes(std::string(kKotaReferencesKey) + "\\OTHER", "PreProcImage", REG_EXPAND_SZ, "C:\\missing.exe");
  EXPECT_EQ(drop("ALPHA", 0), "");
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\BROMVELD"));
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\OTHER"));
}

}  // namespace

// The all-or-nothing install (MEVRID_ROLLBACK=on) through the built tool: a
// failed upgrade prints what it prints without the mode and leaves the
// machine as it was; the record says so in three keys of its own, which a
// run without the mode never writes; a roll-back that fails keeps the change
// marked for the next run; and a failed "-g" leaves the older node running
// on its own copies.
#include <sys/stat.h>

#include "tests/e2e/component_e2e_support.h"
#include "tests/e2e/legacy_e2e_texts.h"
#include "tests/support/reg_text.h"

namespace componente2e {
namespace {

constexpr time_t kOld = 1000000000;
const std::string kRollback = "MEVRID_ROLLBACK=on";
const std::string kDriverCopyFailed = "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n";

class RollbackEndToEnd : public ComponentEndToEnd {
 protected:
  // Version 3.9 with old read-only files, used by ALPHA, its driver running.
  void PutOlderComponent() {
    ASSERT_EQ(InstallAlpha().status, 0);
    m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
    for (const char* file : {kInstalledLibrary, kInstalledDriver, kInstalledTool}) {
      PutFile(file, std::string("old ") + file, kOld);
      ASSERT_EQ(chmod(Host(file).c_str(), 0444), 0);
    }
    std::filesystem::remove(record_);
  }
  // Files with their times, the registry, the services: what must be as it
  // was after a roll-back.
  std::string MachineState() {
    std::string state = m_.Registry();
    for (const char* file : {kInstalledLibrary, kInstalledDriver, kInstalledTool}) {
      struct stat st {};
      stat(Host(file).c_str(), &st);
      state += std::string(file) + "=" + Contents(file) + "@" + std::to_string(st.st_mtime) + " mode " +
               std::to_string(st.st_mode & 0777) + "\n";
      state += Exists(std::string(file) + ".mevrid-kept") ? "kept aside\n" : "";
    }
    for (const emu::admin::ServiceInfo& info : emu::admin::ListServices())
      state += info.name + " state " + std::to_string(info.state) + (info.marked_for_delete ? " marked\n" : "\n");
    return state;
  }
  std::string RecordOf(const std::vector<std::string>& args, std::vector<std::string> env) {
    const std::string path = std::filesystem::path(m_.release_dir()).parent_path().string() + "/result.json";
    std::filesystem::remove(path);
    env.push_back("MEVRID_RESULT_FILE=" + path);
    last_ = Run(args, env);
    return testsupport::ReadFile(path);
  }
  e2e::ToolRun last_;
};

// The mode's failed upgrade tells "-b" after "-e" and otherwise prints what
// the same failure prints without it, byte for byte; the machine is then
// exactly as before, so the run without the mode meets the same machine.
TEST_F(RollbackEndToEnd, AFailedCopyPrintsAsWithoutTheModeAndLeavesTheMachineAsItWas) {
  PutOlderComponent();
  const std::string before = MachineState();
  m_.AddFault("CopyFileA", "vtrin.sys", 32 /* ERROR_SHARING_VIOLATION */);
  const e2e::ToolRun rolled_back = Run({"-k", "gamma", "-p", "C:\\g.exe"}, {kRollback});
  EXPECT_EQ(rolled_back.status, 1);
  EXPECT_EQ(MachineState(), before);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e", "ALPHA -b"}));

  ASSERT_TRUE(emu::ClearFaultRules());
  m_.AddFault("CopyFileA", "vtrin.sys", 32);
  const e2e::ToolRun today = Run({"-k", "gamma", "-p", "C:\\g.exe"});
  EXPECT_EQ(today.status, 1);
  EXPECT_EQ(today.out, kInstallBanner + "Found KOTA Version: 3.9 installed.\n\nStopping: ALPHA\n" + kDriverCopyFailed +
                           kInstallFailed);
  std::string expected = today.out;
  expected.insert(expected.find(kDriverCopyFailed) + kDriverCopyFailed.size(), "\nStarting: ALPHA\n");
  EXPECT_EQ(rolled_back.out, expected);
  // Quiet, both print nothing.
  ASSERT_TRUE(emu::ClearFaultRules());
  m_.AddFault("CopyFileA", "mevrid.exe", 32);
  EXPECT_EQ(Run({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {kRollback}).out, "");
}

// With the mode the record appends the failed step and what became of the
// roll-back, for every kind of run; the outcome of a rolled-back run is its
// own. Without the mode the same failure's record is byte for byte the one
// it always was: the same text without the three keys, outcome "failed".
TEST_F(RollbackEndToEnd, TheRecordTellsTheRollBackOnlyInTheMode) {
  PutOlderComponent();
  m_.AddFault("CopyFileA", "vtrin.sys", 32);
  const std::string with_mode = RecordOf({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {kRollback});
  ASSERT_TRUE(emu::ClearFaultRules());
  m_.AddFault("CopyFileA", "vtrin.sys", 32);
  const std::string without = RecordOf({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {});
  const std::string common_tail =
      R"(,"exit_status":1,"changed":true,"restart_required":false,)"
      R"("failed_phases":["During KOTA component install."],"errors":[{"step":"copy","call":"CopyFileA","code":32,)"
      R"("subject":"C:\\WINDOWS\\system32\\drivers\\vtrin.sys"}],"reference":"GAMMA","version_before":"3.9",)"
      R"("version_after":"3.9")";
  EXPECT_EQ(without, R"({"schema":1,"mode":"install","outcome":"failed")" + common_tail + "}\n");
  EXPECT_EQ(with_mode, R"({"schema":1,"mode":"install","outcome":"rolled-back")" + common_tail +
                           R"(,"failed_step":"copy","rolled_back":true,"rollback_failed":false})" + "\n");

  // A successful upgrade and a run of another mode say nothing failed.
  ASSERT_TRUE(emu::ClearFaultRules());
  const std::string upgraded = RecordOf({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {kRollback});
  EXPECT_NE(upgraded.find(R"("outcome":"upgraded")"), std::string::npos) << upgraded;
  EXPECT_TRUE(upgraded.ends_with(R"("version_after":"4.0","failed_step":null,"rolled_back":false,)"
                                 R"("rollback_failed":false})"
                                 "\n"))
      << upgraded;
  EXPECT_TRUE(AllInstalled());
  EXPECT_FALSE(Exists(std::string(kInstalledDriver) + ".mevrid-kept"));
  const std::string usage = RecordOf({"-x"}, {kRollback, "MEVRID_EXIT_CODES=msi"});
  EXPECT_TRUE(usage.ends_with(R"(,"failed_step":null,"rolled_back":false,"rollback_failed":false})"
                              "\n"))
      << usage;
}

// Putting the old driver back fails: the record says so, the marker keeps
// the change for the next run, which completes it and leaves no old file.
TEST_F(RollbackEndToEnd, ARollBackThatFailsLeavesTheNextRunToFinish) {
  PutOlderComponent();
  m_.AddFault("CopyFileA", "vtrin.sys", 32);
  m_.AddFault("MoveFileExA", "vtrin.sys.mevrid-kept C:", 5 /* ERROR_ACCESS_DENIED */);
  const std::string record = RecordOf({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {kRollback});
  EXPECT_EQ(last_.status, 1);
  EXPECT_NE(record.find(R"("outcome":"failed")"), std::string::npos) << record;
  EXPECT_TRUE(record.ends_with(R"("failed_step":"copy","rolled_back":false,"rollback_failed":true})"
                               "\n"))
      << record;
  EXPECT_NE(record.find(R"({"step":"roll-back","call":"MoveFileExA","code":5,)"), std::string::npos) << record;
  EXPECT_EQ(emu::admin::ReadString(kComponentKey, "ChangeInProgress"), "Install\\KeptAside");
  EXPECT_EQ(testsupport::ReadFile(Host(std::string(kInstalledDriver) + ".mevrid-kept")),
            std::string("old ") + kInstalledDriver);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e -q", "ALPHA -b -q"}));

  ASSERT_TRUE(emu::ClearFaultRules());
  EXPECT_EQ(Run({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {kRollback}).status, 0);
  EXPECT_TRUE(AllInstalled());
  EXPECT_FALSE(Exists(std::string(kInstalledDriver) + ".mevrid-kept"));
  EXPECT_EQ(emu::admin::ReadString(kComponentKey, "ChangeInProgress"), "");
}

// A product told "-e" that cannot be told "-b", even by the walk once more,
// fails the run past its roll-back: the new component stays, "Install" stays
// for the next run, which tells it.
TEST_F(RollbackEndToEnd, AProductNeverToldBeginFailsTheRunAndTheNextRunTellsIt) {
  PutOlderComponent();
  m_.AddFault("CreateProcessA", "ALPHA -b", 2 /* ERROR_FILE_NOT_FOUND */, 1, true);
  const std::string record = RecordOf({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {kRollback});
  EXPECT_EQ(last_.status, 1);
  EXPECT_NE(record.find(R"("outcome":"failed")"), std::string::npos) << record;
  EXPECT_TRUE(record.ends_with(R"("failed_step":"notify-begin","rolled_back":false,"rollback_failed":false})"
                               "\n"))
      << record;
  EXPECT_TRUE(AllInstalled());
  EXPECT_EQ(emu::admin::ReadString(kComponentKey, "ChangeInProgress"), "Install\\KeptAside");
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e -q"}));

  ASSERT_TRUE(emu::ClearFaultRules());
  EXPECT_EQ(Run({"-k", "gamma", "-p", "C:\\g.exe", "-q"}, {kRollback}).status, 0);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e -q", "ALPHA -e -q", "ALPHA -b -q"}));
  EXPECT_FALSE(Exists(std::string(kInstalledDriver) + ".mevrid-kept"));
  EXPECT_EQ(emu::admin::ReadString(kComponentKey, "ChangeInProgress"), "");
}

const std::string kNodeLibrary = "C:\\Program Files\\Kelm\\bin\\qelmot32.dll";

class OlderNodeRollback : public RollbackEndToEnd {
 protected:
  // An older 3.4 node, its services and its driver running from its own
  // copy, its library below the program files path.
  void SetUp() override {
    RollbackEndToEnd::SetUp();
    m_.machine().Import(std::string(legacye2e::kReg) +
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion]\n" +
                        testsupport::RegString("Version", "3.4") +
                        testsupport::RegString("PathName", "C:\\Program Files\\Kelm\\ihv\\bin"));
    for (const char* name : {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "Kelm Local Response Agent", "SNMP"})
      m_.DefineService(e2e::Service(name, legacye2e::kRunning));
    m_.DefineService(e2e::Service("win32sl", legacye2e::kRunning, "Win32 DMI Service Layer"));
    PutFile(kInstalledDriver, "node driver", kOld);
    PutFile(kNodeLibrary, "node library", kOld);
    m_.DefineService(testsupport::DriverService(legacye2e::kRunning));
  }
  void ExpectEveryServiceRunning() {
    for (const emu::admin::ServiceInfo& info : emu::admin::ListServices())
      EXPECT_EQ(info.state, legacye2e::kRunning) << info.name;
  }
};

// A failed install over the node: its own copies come back, its driver and
// services run again, and no legacy reference is registered.
TEST_F(OlderNodeRollback, AFailedInstallLeavesTheNodeRunningAsItWas) {
  const std::string before = MachineState() + Contents(kNodeLibrary);
  m_.AddFault("CopyFileA", "vtrin.sys", 32);
  const e2e::ToolRun run = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe"}, {kRollback});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string(legacye2e::kNnmHeading) +
                         "Not a Mangement Station or Remote Console\nManaged Node version (3.4)\n\n" +
                         "Stopping Service (Kelm Baseboard Agent)\n" + legacye2e::kNodeServiceStops + "\n\n" +
                         legacye2e::kInstallBannerAfterReport + kDriverCopyFailed + "\n" +
                         legacye2e::kNodeServiceStarts + legacye2e::kNodeAgentStart + "\n" + kInstallFailed.substr(1));
  EXPECT_EQ(MachineState() + Contents(kNodeLibrary), before);
  ExpectEveryServiceRunning();
  EXPECT_EQ(m_.machine().Export("").find("KelmKOTA"), std::string::npos);
}

// A successful one: the node's copies kept aside go with the caller's point
// of no return, as they went without the mode.
TEST_F(OlderNodeRollback, ASuccessfulInstallLetsTheNodesCopiesGo) {
  const e2e::ToolRun run = Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe", "-q"}, {kRollback});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(AllInstalled());
  for (const std::string& path : {kNodeLibrary, std::string(kInstalledDriver), std::string(kInstalledLibrary)})
    EXPECT_FALSE(Exists(path + ".mevrid-kept")) << path;
  EXPECT_FALSE(Exists(kNodeLibrary));
  EXPECT_NE(Export(kComponentKey).find("\\References\\BROMVELD]"), std::string::npos);
  EXPECT_EQ(emu::admin::ReadString(kComponentKey, "ChangeInProgress"), "");
  ExpectEveryServiceRunning();
}

// The node's library that an interrupted run left kept aside ("Discard")
// goes with the next "-g", without the mode too.
TEST_F(OlderNodeRollback, AKeptLeftoverGoesWithTheNextPreparation) {
  m_.machine().Import(kRegHeader + "[HKEY_LOCAL_MACHINE\\" + kComponentKey + "]\r\n" +
                      testsupport::RegString("ChangeInProgress", "Discard"));
  PutFile(kNodeLibrary + ".mevrid-kept", "left over", kOld);
  EXPECT_EQ(Run({"-g", "-k", "alpha", "-p", "C:\\alpha.exe", "-q"}, {}).status, 0);
  EXPECT_FALSE(Exists(kNodeLibrary + ".mevrid-kept"));
  EXPECT_EQ(emu::admin::ReadString(kComponentKey, "ChangeInProgress"), "");
}

}  // namespace
}  // namespace componente2e

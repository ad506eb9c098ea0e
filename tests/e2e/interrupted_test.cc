// Runs killed half-way and the same command run again: the rerun carries out
// the whole procedure, so the products are told "-e" and then "-b", the
// driver runs, and the machine ends as an uninterrupted run leaves it.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

constexpr int kKilled = 128 + 9;

const std::vector<std::string> kInstallBeta = {"-k", "Beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"};
const std::vector<std::string> kRemoveAlpha = {"-k", "alpha", "-r"};
const std::string kLegacyImage = "%SystemRoot%\\mevrid.exe -o";

// What the machine holds before the interrupted run.
enum class Before { Alpha, AlphaAt39, AlphaAndBeta, AlphaAndLegacy };

struct Interruption {
  const char* name;
  Before before;
  std::vector<std::string> command;
  const char* operation;  // the call the first run is killed at
  const char* match;
  std::string rerun_output;
  Lines recorded;  // both runs' notifications
  bool component_stays;
};
// Cases show by name in test listings and failures.
void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class InterruptedRun : public ComponentEndToEnd, public testing::WithParamInterface<Interruption> {};

TEST_P(InterruptedRun, IsFinishedByTheSameCommand) {
  const Interruption& c = GetParam();
  ASSERT_EQ(InstallAlpha().status, 0);
  // An upgrade over 3.9, which tells ALPHA to let go first.
  if (c.before == Before::AlphaAt39) m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
  if (c.before == Before::AlphaAndBeta) {
    ASSERT_EQ(InstallBeta().status, 0);
  }
  // The legacy reference, left by "-g" on a node no longer older.
  if (c.before == Before::AlphaAndLegacy) {
    ASSERT_EQ(Run({"-k", "bromveld", "-p", kLegacyImage}).status, 0);
  }
  m_.AddFault(c.operation, c.match, emu::kFaultCrashHere);
  ASSERT_EQ(Run(c.command).status, kKilled);
  e2e::ToolRun rerun = Run(c.command);
  EXPECT_EQ(rerun.status, 0);
  EXPECT_EQ(rerun.out, c.rerun_output);
  EXPECT_EQ(Recorded(), c.recorded);
  if (c.component_stays) {
    EXPECT_EQ(Export(kComponentKey).find("ChangeInProgress"), std::string::npos);
    EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);
    EXPECT_TRUE(AllInstalled());
  } else {
    EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
    EXPECT_FALSE(m_.ServiceExists("vtrin"));
    EXPECT_FALSE(Exists(kInstalledLibrary));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kills, InterruptedRun,
    testing::Values(
        // Version 4.0 recorded and the driver created, not started: the
        // component looks current, but the rerun installs it in full.
        Interruption{"UpgradeBeforeTheDriverStarts", Before::AlphaAt39, kInstallBeta, "StartServiceA", "vtrin",
                     kInstallBanner + "Found KOTA Version: 4.0 installed.\n\nStopping: ALPHA\n" + kNewDriver +
                         "\nStarting: ALPHA\n" + kInstallOk,
                     Lines{"ALPHA -e", "ALPHA -e", "ALPHA -b"}, true},
        // The reference and the References key gone, the driver running.
        Interruption{"LastRemovalBeforeTheDriverStops", Before::Alpha, kRemoveAlpha, "ControlService", "vtrin",
                     kRemoveBanner + kStopAndRemove + kRemoveOk, Lines{"ALPHA -e"}, false},
        // Everything gone but the version key and the component key: the
        // pieces already gone are passed over.
        Interruption{"LastRemovalBeforeTheVersionKeyGoes", Before::Alpha, kRemoveAlpha, "RegDeleteKeyA",
                     "CurrentVersion", kRemoveBanner + kRemoveOk, Lines{"ALPHA -e"}, false},
        // ALPHA gone, BETA stays; the silent drop of the legacy reference
        // that follows is killed as it looks the reference up. The rerun
        // finds ALPHA's removal done.
        Interruption{"RemovalKilledDroppingAnAbsentLegacyReference", Before::AlphaAndBeta, kRemoveAlpha,
                     "RegOpenKeyExA", "References\\BROMVELD", kRemoveBanner + kRemoveOk, Lines{"ALPHA -e"}, true},
        // ALPHA gone, then the legacy reference, the last one: its silent
        // removal of the component is killed as the driver stops. The rerun
        // finishes ALPHA's removal, and with it the component's.
        Interruption{"RemovalKilledDroppingTheLastLegacyReference", Before::AlphaAndLegacy, kRemoveAlpha,
                     "ControlService", "vtrin", kRemoveBanner + kStopAndRemove + kRemoveOk, Lines{"ALPHA -e"}, false}),
    [](const testing::TestParamInfo<Interruption>& info) { return std::string(info.param.name); });

// Two removals that fail in turn: ALPHA's cannot count the references left
// (its reference gone, the component whole), then BETA's, the last, cannot
// open the version key (the tool's copy and the keys stay). Each is
// finished by its own command run again, whichever comes first, and the
// marker names both until then.
using FailedRemovals = ComponentEndToEnd;

TEST_F(FailedRemovals, EachIsFinishedByItsOwnCommand) {
  for (const char* first : {"beta", "alpha"}) {
    SCOPED_TRACE(std::string("rerun first: ") + first);
    ASSERT_EQ(InstallAlpha().status, 0);
    ASSERT_EQ(InstallBeta().status, 0);
    m_.AddFault("RegEnumKeyExA", "References", 1011 /* ERROR_CANTOPEN */);
    EXPECT_EQ(Run(kRemoveAlpha).status, 1);
    m_.AddFault("RegOpenKeyExA", "KelmKOTA\\CurrentVersion", 5 /* ERROR_ACCESS_DENIED */, 1, true);
    EXPECT_EQ(Run({"-k", "beta", "-r"}).status, 1);
    emu::ClearFaultRules();
    EXPECT_NE(Export(kComponentKey).find("\"ChangeInProgress\"=\"Remove ALPHA\\\\Remove BETA\""), std::string::npos);

    e2e::ToolRun rerun = Run({"-k", first, "-r"});
    EXPECT_EQ(rerun.status, 0);
    EXPECT_EQ(rerun.out, kRemoveBanner + kRemoveOk);
    EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
    EXPECT_FALSE(Exists(kInstalledTool));
  }
}

// What killed runs leave half-written: a copy into the Windows directory,
// and a record's temporary beside it. The next run (here a removal, which
// copies nothing, and one with no record at all) removes them; those of a
// process that still runs stay.
TEST(StrayFiles, NeitherOutlivesTheNextRun) {
  e2e::ReleaseMachine m;
  ASSERT_EQ(m.Run({"-k", "alpha", "-p", "C:\\Products\\Alpha\\pre.exe ALPHA"}).status, 0);
  ASSERT_EQ(m.Run(kInstallBeta).status, 0);
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string windows = m.machine().HostPath("C:\\WINDOWS");
  const std::string record = std::filesystem::path(m.release_dir()).parent_path().string() + "/result.json";
  auto named = [](const std::string& prefix, pid_t pid, const char* suffix) {
    return prefix + std::to_string(pid) + suffix;
  };
  const std::vector<std::string> stale = {named(windows + "/.mevrid-copy-", dead, "-Ab12Cd"),
                                          named(windows + "/system32/drivers/.mevrid-copy-", dead, "-Ef34Gh"),
                                          named(record + ".tmp.", dead, "")};
  const std::vector<std::string> live = {named(windows + "/system32/.mevrid-copy-", getpid(), "-Ij56Kl"),
                                         named(record + ".tmp.", getpid(), "")};
  for (const std::string& path : stale) ASSERT_TRUE(testsupport::WriteFile(path, "half"));
  for (const std::string& path : live) ASSERT_TRUE(testsupport::WriteFile(path, "half"));

  ASSERT_EQ(m.Run({"-k", "beta", "-r"}).status, 0);
  for (size_t i = 0; i < 2; ++i) EXPECT_FALSE(testsupport::FileExists(stale[i])) << stale[i];
  EXPECT_TRUE(testsupport::FileExists(stale[2])) << "no record was written";
  ASSERT_EQ(m.Run({"-k", "alpha", "-r"}, {"MEVRID_RESULT_FILE=" + record}).status, 0);
  EXPECT_FALSE(testsupport::FileExists(stale[2]));
  EXPECT_NE(testsupport::ReadFile(record).find("\"outcome\":\"removed-component\""), std::string::npos);
  for (const std::string& path : live) EXPECT_TRUE(testsupport::FileExists(path)) << path;
}

}  // namespace
}  // namespace componente2e

// Runs killed half-way and the same command run again: the rerun carries out
// the whole procedure, so the products are told "-e" and then "-b", the
// driver runs, and the machine ends as an uninterrupted run leaves it.
#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

constexpr int kKilled = 128 + 9;

struct Interruption {
  const char* name;
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
  if (c.component_stays) {
    // An upgrade over 3.9, which tells ALPHA to let go first.
    m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
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

const std::vector<std::string> kInstallBeta = {"-k", "Beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"};
const std::vector<std::string> kRemoveAlpha = {"-k", "alpha", "-r"};

INSTANTIATE_TEST_SUITE_P(
    Kills, InterruptedRun,
    testing::Values(
        // Version 4.0 recorded and the driver created, not started: the
        // component looks current, but the rerun installs it in full.
        Interruption{"UpgradeBeforeTheDriverStarts", kInstallBeta, "StartServiceA", "vtrin",
                     kInstallBanner + "Found KOTA Version: 4.0 installed.\n\nStopping: ALPHA\n" + kNewDriver +
                         "\nStarting: ALPHA\n" + kInstallOk,
                     Lines{"ALPHA -e", "ALPHA -e", "ALPHA -b"}, true},
        // The reference and the References key gone, the driver running.
        Interruption{"LastRemovalBeforeTheDriverStops", kRemoveAlpha, "ControlService", "vtrin",
                     kRemoveBanner + kStopAndRemove + kRemoveOk, Lines{"ALPHA -e"}, false},
        // Everything gone but the version key and the component key: the
        // pieces already gone are passed over.
        Interruption{"LastRemovalBeforeTheVersionKeyGoes", kRemoveAlpha, "RegDeleteKeyA", "CurrentVersion",
                     kRemoveBanner + kRemoveOk, Lines{"ALPHA -e"}, false}),
    [](const testing::TestParamInfo<Interruption>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace componente2e

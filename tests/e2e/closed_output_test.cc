// The tool's standard output closed while it runs (`mevrid.exe ... | head -c
// N`): as on Windows, the lost writes change nothing else. The run goes on
// to the end state of an uninterrupted run and exits 0 or 1, never by SIGPIPE.
#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

class ClosedOutput : public ComponentEndToEnd {
 protected:
  // The tool piped into `head -c cut`, which exits after cut bytes (at once
  // for 0); the tool's own exit status. The tool starts with SIGPIPE at its
  // default, whatever this test process does with it.
  int RunPiped(const std::vector<std::string>& args, int cut) {
    std::string pipeline = "env --default-signal=PIPE ./mevrid.exe \"$@\" | head -c " + std::to_string(cut) +
                           " >/dev/null; exit ${PIPESTATUS[0]}";
    std::vector<std::string> argv = {"/bin/bash", "-c", pipeline, "mevrid.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::RunProgram(argv, m_.release_dir(), {"MEVRID_RECORD_FILE=" + record_}).status;
  }
};

// An upgrade over 3.9 that two products use: both told "-e", then "-b".
TEST_F(ClosedOutput, AnUpgradeEndsAsAnUninterruptedOne) {
  for (int cut : {0, 108}) {
    SCOPED_TRACE("head -c " + std::to_string(cut));
    ASSERT_EQ(InstallAlpha().status, 0);
    ASSERT_EQ(InstallBeta().status, 0);
    m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
    std::filesystem::remove(record_);

    EXPECT_EQ(RunPiped({"-k", "gamma", "-p", "C:\\Products\\Gamma\\pre.exe"}, cut), 0);
    EXPECT_EQ(Recorded(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
    EXPECT_TRUE(AllInstalled());
    EXPECT_EQ(m_.StateOf("vtrin"), 4u);
    EXPECT_NE(Export(kComponentKey).find("\\References\\GAMMA]"), std::string::npos);
  }
}

// The removal of the last product: everything goes, as without the pipe.
TEST_F(ClosedOutput, TheLastRemovalEndsAsAnUninterruptedOne) {
  std::string clean = m_.Registry();
  ASSERT_EQ(InstallAlpha().status, 0);
  EXPECT_EQ(RunPiped({"-k", "alpha", "-r"}, 0), 0);
  std::string vendor = "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n";
  clean.insert(clean.find(vendor) + vendor.size(), "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation]\r\n\r\n");
  EXPECT_EQ(m_.Registry(), clean);
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  EXPECT_FALSE(Exists(kInstalledDriver));
}

}  // namespace
}  // namespace componente2e

// The command line's less travelled paths through the built tool: values the
// run does not use, whatever they hold, change nothing of what it does.
#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

const std::string kStopBanner = "\n\nStopping: Kelm Wardhaven Server Agent\n*******************************\n\n";
const std::string kStartBanner = "\n\nStarting: Kelm Wardhaven Server Agent\n*******************************\n\n";

using CliAuditEndToEnd = ComponentEndToEnd;

// "-r" does not use the image: one too long for its field, or an empty one,
// is passed over and the reference is removed.
TEST_F(CliAuditEndToEnd, RemovalIgnoresAnImageItDoesNotUse) {
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(InstallBeta().status, 0);

  e2e::ToolRun run = Run({"-k", "beta", "-r", "-p", ""});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kRemoveOk);

  run = Run({"-p", std::string(300, 'p'), "-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_EQ(Recorded(), (Lines{"BETA -e", "ALPHA -e"}));
  EXPECT_EQ(m_.Registry().find("KelmKOTA"), std::string::npos);
  EXPECT_FALSE(Exists(kInstalledTool));
}

// "-e" and "-b" run whatever the other options hold, a value too long for
// its field included; the install they would have asked for never starts.
TEST_F(CliAuditEndToEnd, AgentModesRunBesideValuesTooLong) {
  m_.DefineService(e2e::Service("brunol32", SERVICE_RUNNING, "Kelm Wardhaven Server Agent"));

  e2e::ToolRun run = Run({"-k", "abc", "-e", "-p", std::string(260, 'p')});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kStopBanner + "Stopping Service (Kelm Wardhaven Server Agent)\n");
  EXPECT_EQ(m_.StateOf("brunol32"), SERVICE_STOPPED);

  run = Run({"-k", std::string(4096, 'n'), "-b", "-p", "C:\\Products\\Alpha\\pre.exe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kStartBanner + "Starting Service (Kelm Wardhaven Server Agent)\n");
  EXPECT_EQ(m_.StateOf("brunol32"), SERVICE_RUNNING);

  EXPECT_EQ(m_.Registry().find("KelmKOTA"), std::string::npos);
  EXPECT_FALSE(Exists(kInstalledTool));
  EXPECT_TRUE(Recorded().empty());
}

}  // namespace
}  // namespace componente2e

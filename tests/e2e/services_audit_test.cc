// Service control through the built tool, in the cases the other end-to-end
// suites leave out: the server agent's dependents several levels deep and in
// a loop, a driver service that stays marked for deletion until the restart,
// and a Service Control Manager that cannot be opened by the install and the
// removal. Whole output, exit status and the services' end states.
#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

const std::string kStopBanner = "\n\nStopping: Kelm Wardhaven Server Agent\n*******************************\n\n";
const std::string kServerLine = "Stopping Service (Kelm Wardhaven Server Agent)";
constexpr const char* kReferencesKey = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References";

class ServerAgentTreeEndToEnd : public testing::Test {
 protected:
  void Define(const std::string& name, const std::string& display, const std::vector<std::string>& depends,
              int64_t stop_ms = 0) {
    auto service = e2e::Service(name, SERVICE_RUNNING, display);
    service.depends = depends;
    service.stop_ms = stop_ms;
    release_.DefineService(service);
  }

  e2e::ReleaseMachine release_;
};

// A dependent's own dependent goes first, each on its own line with its own
// dots, and the server agent last: the walk follows the chain to its end.
TEST_F(ServerAgentTreeEndToEnd, DependentsTwoLevelsDeepStopDeepestFirst) {
  Define("brunol32", "Kelm Wardhaven Server Agent", {});
  Define("WardhavenRelay", "Wardhaven Relay", {"brunol32"}, 1000);
  Define("WardhavenProbe", "Wardhaven Probe", {"WardhavenRelay"}, 2000);
  long long start = release_.machine().NowMs();
  e2e::ToolRun run = release_.Run({"-e"});
  EXPECT_EQ(run.out, kStopBanner + "Stopping Service (Wardhaven Probe)..\nStopping Service (Wardhaven Relay).\n" +
                         kServerLine + "\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(release_.machine().NowMs() - start, 3000);
  for (const char* name : {"brunol32", "WardhavenRelay", "WardhavenProbe"})
    EXPECT_EQ(release_.StateOf(name), SERVICE_STOPPED) << name;
}

// Dependencies written so that the server agent and a helper depend on each
// other: the tool must end, not recurse until it crashes. Each is named once,
// neither stops while the other runs, and "-e" fails; quiet, it says nothing.
TEST_F(ServerAgentTreeEndToEnd, DependencyLoopEndsWithFailure) {
  Define("brunol32", "Kelm Wardhaven Server Agent", {"WardhavenLoop"});
  Define("WardhavenLoop", "Wardhaven Loop", {"brunol32"});
  e2e::ToolRun run = release_.Run({"-e"});
  EXPECT_EQ(run.out, kStopBanner + "Stopping Service (Wardhaven Loop)\n" + kServerLine + "\n");
  EXPECT_EQ(run.status, 1);
  run = release_.Run({"-e", "-q"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_RUNNING);
  EXPECT_EQ(release_.StateOf("WardhavenLoop"), SERVICE_RUNNING);
}

using DriverServiceEndToEnd = ComponentEndToEnd;

// A driver that refuses its stop is deleted while it runs, so it stays marked
// for deletion: the next install cannot create the new service (an error
// line, unlike an existing service), and the removal after it counts the
// marked service as removed, with no line after "Removing Service". The
// restart takes it away and a fresh install succeeds.
TEST_F(DriverServiceEndToEnd, MarkedForDeletionUntilTheRestart) {
  ASSERT_EQ(InstallAlpha().status, 0);
  emu::admin::ServiceSpec driver;
  driver.name = "vtrin";
  driver.driver = true;
  driver.image = "System32\\drivers\\vtrin.sys";
  driver.start_type = SERVICE_AUTO_START;
  driver.group = "Extended Base";
  driver.state = SERVICE_RUNNING;
  driver.refuse_stop = 1052;  // ERROR_INVALID_SERVICE_CONTROL
  m_.DefineService(driver);
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  ASSERT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);
  ASSERT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);

  run = InstallAlpha();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kInstallBanner + "Installing Driver (" + kDisplay + ").\n" +
                         "\tERROR: Could not open handle to driver - vtrin\n" + kInstallFailed);
  EXPECT_EQ(Export(kReferencesKey).find("ALPHA"), std::string::npos);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);

  // The files and the version key are there again; give the component back
  // its reference and remove it: the stop is refused, the deletion is not.
  ASSERT_TRUE(AllInstalled());
  m_.machine().Import(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA]\r\n"
      "\"PreProcImage\"=\"C:\\\\Products\\\\Alpha\\\\pre.exe ALPHA\"\r\n");
  run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);

  std::string error;
  ASSERT_TRUE(emu::admin::Reboot(&error)) << error;
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  run = InstallAlpha();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + kNewDriver + kInstallOk);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);
}

// Without the Service Control Manager the install copies the files and then
// fails at the driver service with the manager's own "install" line, printed
// instead of "Installing Driver"; the silent stop and removal before it say
// nothing. The removal names both of its operations that need the manager.
TEST_F(DriverServiceEndToEnd, ManagerThatCannotBeOpened) {
  m_.AddFault("OpenSCManagerA", "", 5 /* ERROR_ACCESS_DENIED */, 1, true);
  e2e::ToolRun run = InstallAlpha();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            kInstallBanner + "\tERROR: Could not open handle to Service Control Manager to install - vtrin\n" +
                kInstallFailed);
  EXPECT_TRUE(AllInstalled());
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  EXPECT_EQ(Export(kReferencesKey).find("ALPHA"), std::string::npos);

  m_.machine().Import(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA]\r\n"
      "\"PreProcImage\"=\"C:\\\\Products\\\\Alpha\\\\pre.exe ALPHA\"\r\n");
  run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner +
                         "\tERROR: Could not open handle to Service Control Manager to stop - vtrin\n"
                         "\tERROR: Could not open handle to Service Control Manager to remove - vtrin\n" +
                         kRemoveFailed);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
}

}  // namespace
}  // namespace componente2e

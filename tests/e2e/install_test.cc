// The install mode end to end: first installs, installs that only register,
// upgrades, and the failures a user meets, each compared byte for byte; a
// version recorded by a newer installer or too long for its buffer, a driver
// service marked for deletion until the restart, and a Service Control
// Manager that cannot be opened by the install and the removal.
#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

constexpr time_t kOld = 1000000000;

using InstallEndToEnd = ComponentEndToEnd;

// The typical first install: nothing to notify, the absent driver service's
// stop and removal fail without a word, the three files are copied, the
// version recorded, the driver created and started, the reference added.
TEST_F(InstallEndToEnd, AFirstInstallOnACleanMachine) {
  e2e::ToolRun run = InstallAlpha();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + kNewDriver + kInstallOk);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(AllInstalled());
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(Export(kComponentKey),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\r\n"
            // Both values as stored: no terminator (regedit shows them in UTF-16).
            "\"Version\"=\"4.0\"\r\n"
            "\"UnInstallImage\"=hex(2):43,00,3a,00,5c,00,57,00,49,00,4e,00,44,00,4f,00,57,00,\\\r\n"
            "  53,00,5c,00,6d,00,65,00,76,00,72,00,69,00,64,00,2e,00,65,00,78,00,65,00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA]\r\n"
            "\"PreProcImage\"=hex(2):43,00,3a,00,5c,00,50,00,72,00,6f,00,64,00,75,00,63,00,74,\\\r\n"
            "  00,73,00,5c,00,41,00,6c,00,70,00,68,00,61,00,5c,00,70,00,72,00,65,00,2e,00,\\\r\n"
            "  65,00,78,00,65,00,20,00,41,00,4c,00,50,00,48,00,41,00\r\n\r\n");
  emu::admin::ServiceInfo driver;
  std::string error;
  ASSERT_TRUE(emu::admin::QueryService("vtrin", &driver, &error)) << error;
  EXPECT_EQ(driver.display, "vtrin");
  EXPECT_EQ(driver.type, 1u);        // SERVICE_KERNEL_DRIVER
  EXPECT_EQ(driver.start_type, 2u);  // SERVICE_AUTO_START
  EXPECT_EQ(driver.error_control, 1u);
  EXPECT_EQ(driver.image, "System32\\drivers\\vtrin.sys");
  EXPECT_EQ(driver.group, "Extended Base");
  EXPECT_EQ(driver.state, 4u);  // SERVICE_RUNNING
}

TEST_F(InstallEndToEnd, ASecondInstallOnlyRegisters) {
  ASSERT_EQ(InstallAlpha().status, 0);
  std::string version_key = Export(kVersionKey);
  e2e::ToolRun run = InstallBeta();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 4.0 installed.\n" + kInstallOk);
  // ALPHA is not told: nothing is replaced.
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(Export(kVersionKey), version_key);
  EXPECT_EQ(m_.StateOf("vtrin"), 4u);
  EXPECT_NE(Export(kComponentKey).find("\\References\\BETA]"), std::string::npos);
}

// Product names that differ only in the case of letters beyond ASCII are one
// reference, as in Windows' registry: in UTF-8 as a Linux shell passes them,
// and in code page 1252 bytes as a Windows program does.
TEST_F(InstallEndToEnd, NamesDifferingOnlyInCaseBeyondAsciiAreOneReference) {
  for (auto [first, second] : {std::pair<std::string, std::string>{"caf\xC3\xA9", "CAF\xC3\x89"},
                               std::pair<std::string, std::string>{"\xE9t\xE9", "\xC9T\xC9"}}) {
    ASSERT_EQ(Run({"-k", first, "-p", "C:\\Products\\Alpha\\pre.exe"}).status, 0);
    ASSERT_EQ(Run({"-k", second, "-p", "C:\\Products\\Alpha\\pre.exe"}).status, 0);
  }
  std::string references = Export(std::string(kComponentKey) + "\\References");
  EXPECT_EQ(std::count(references.begin(), references.end(), '['), 3) << references;
  // The first spelling stays, its ASCII letters upper-cased by the tool.
  EXPECT_NE(references.find("\\References\\CAF\xC3\xA9]"), std::string::npos) << references;
  EXPECT_NE(references.find("\\References\\\xE9T\xE9]"), std::string::npos) << references;
}

// An older component (3.9, with read-only old files) that two products use:
// both are told to let go before the files are replaced and to take the
// driver up again after; the new product is registered last.
TEST_F(InstallEndToEnd, AnUpgradeOverVersion3Point9) {
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(InstallBeta().status, 0);
  m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
  for (const char* file : {kInstalledLibrary, kInstalledDriver, kInstalledTool}) {
    PutFile(file, "old", kOld);
    ASSERT_EQ(chmod(Host(file).c_str(), 0444), 0);
  }

  e2e::ToolRun run = Run({"-k", "gamma", "-p", "C:\\Products\\Gamma\\pre.exe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 3.9 installed.\n" + "\nStopping: ALPHA\n\nStopping: BETA\n" +
                         kNewDriver + "\nStarting: ALPHA\n\nStarting: BETA\n" + kInstallOk);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
  EXPECT_TRUE(AllInstalled());
  EXPECT_NE(Export(kVersionKey).find("\"Version\""), std::string::npos);
  EXPECT_EQ(m_.StateOf("vtrin"), 4u);
}

TEST_F(InstallEndToEnd, AnUpgradeOverAnOlderInstalledTool) {
  ASSERT_EQ(InstallAlpha().status, 0);
  PutFile(kInstalledTool, "older tool", kOld);
  e2e::ToolRun run = Run({"-k", "alpha", "-p", "C:\\Products\\Alpha\\pre.exe ALPHA", "-q"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e -q", "ALPHA -b -q"}));
  EXPECT_TRUE(AllInstalled());
}

TEST_F(InstallEndToEnd, WithoutSystemRootNothingIsInstalled) {
  std::string before = m_.Registry();
  e2e::ToolRun run = Run({"-k", "alpha", "-p", "C:\\a.exe"}, {"SystemRoot="});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kInstallBanner + "\tERROR: Could not determine %SystemRoot% directory.\n" + kInstallFailed);
  EXPECT_EQ(m_.Registry(), before);
  EXPECT_FALSE(Exists(kInstalledTool));
}

TEST_F(InstallEndToEnd, AReleaseWithoutNtNodeStopsAtTheLibrary) {
  testsupport::RemoveTree(Release("nt_node"));
  e2e::ToolRun run = InstallAlpha();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kInstallBanner + "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\qelmot32.dll)\n" +
                         kInstallFailed);
  // The tool's copy was made before; nothing else.
  EXPECT_TRUE(SameAsRelease(kInstalledTool, "mevrid.exe"));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
}

TEST_F(InstallEndToEnd, ARefusedCopyOfTheDriverRestartsTheOldOne) {
  ASSERT_EQ(InstallAlpha().status, 0);
  PutFile(kInstalledDriver, "old driver", kOld);
  m_.AddFault("CopyFileA", "vtrin.sys", 32 /* ERROR_SHARING_VIOLATION */);
  e2e::ToolRun run = InstallBeta();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 4.0 installed.\n\nStopping: ALPHA\n" +
                         "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\drivers\\vtrin.sys)\n" + kInstallFailed);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_EQ(Contents(kInstalledDriver), "old driver");
  EXPECT_EQ(m_.StateOf("vtrin"), 4u);
  EXPECT_EQ(Export(kComponentKey).find("\\References\\BETA]"), std::string::npos);
}

// A reference whose pre-processor cannot be run is still named and then
// passed over, in both walks: no image, a program that does not exist, an
// image too long for the tool's buffer. An image with %SystemRoot% is
// expanded when it is notified and stays stored as written. A version of one
// number is no version: the upgrade goes ahead without a word about it.
TEST_F(InstallEndToEnd, WalksNameEveryReferenceAndRunOnlyThoseThatCanRun) {
  const std::string long_image = "C:\\\\Products\\\\Alpha\\\\pre.exe " + std::string(250, 'x');
  const std::string zeta =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\zeta]\r\n"
      "\"PreProcImage\"=\"%SystemRoot%\\\\..\\\\Products\\\\Alpha\\\\pre.exe Z\"\r\n\r\n";
  m_.machine().Import(kRegHeader + kVersionSection +
                      "\"Version\"=\"4\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\Bare]\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\Cannot]\r\n"
                      "\"PreProcImage\"=\"C:\\\\Products\\\\Nowhere\\\\pre.exe\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\Long]\r\n"
                      "\"PreProcImage\"=\"" +
                      long_image + "\"\r\n\r\n" + zeta);

  e2e::ToolRun run = InstallAlpha();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "\nStopping: Bare\n\nStopping: Cannot\n\nStopping: Long\n\nStopping: zeta\n" +
                         kNewDriver + "\nStarting: Bare\n\nStarting: Cannot\n\nStarting: Long\n\nStarting: zeta\n" +
                         kInstallOk);
  EXPECT_EQ(Recorded(), (Lines{"Z -e", "Z -b"}));
  EXPECT_EQ(Export(std::string(kComponentKey) + "\\References\\zeta"),
            "Windows Registry Editor Version 5.00\r\n\r\n" + zeta);
  EXPECT_TRUE(AllInstalled());

  // Quiet, the same walks say nothing and pass " -q" on.
  m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
  run = Run({"-k", "alpha", "-p", "C:\\Products\\Alpha\\pre.exe ALPHA", "-q"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Recorded(), (Lines{"Z -e", "Z -b", "ALPHA -e -q", "Z -e -q", "ALPHA -b -q", "Z -b -q"}));
}

TEST_F(InstallEndToEnd, AnEmptyReferencesKeyTellsNobody) {
  m_.machine().Import(kRegHeader + kVersionSection +
                      "\"Version\"=\"3.9\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References]\r\n\r\n");
  e2e::ToolRun run = InstallAlpha();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 3.9 installed.\n" + kNewDriver + kInstallOk);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_TRUE(AllInstalled());
}

// A release file that is missing counts as current: the installed driver is
// kept and nothing is replaced. Registering a name again only replaces its
// image.
TEST_F(InstallEndToEnd, AReleaseWithoutTheDriverKeepsTheInstalledOne) {
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(unlink(Release("nt_node/vtrin.sys").c_str()), 0);
  std::string version_key = Export(kVersionKey);
  e2e::ToolRun run = Run({"-k", "ALPHA", "-p", "C:\\Products\\Beta\\pre.exe AGAIN"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 4.0 installed.\n" + kInstallOk);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_TRUE(Exists(kInstalledDriver));
  EXPECT_EQ(Export(kVersionKey), version_key);
  EXPECT_EQ(Export(std::string(kComponentKey) + "\\References"),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA]\r\n"
            "\"PreProcImage\"=hex(2):43,00,3a,00,5c,00,50,00,72,00,6f,00,64,00,75,00,63,00,74,\\\r\n"
            "  00,73,00,5c,00,42,00,65,00,74,00,61,00,5c,00,70,00,72,00,65,00,2e,00,65,00,\\\r\n"
            "  78,00,65,00,20,00,41,00,47,00,41,00,49,00,4e,00\r\n\r\n");
}

// The old driver service outlives its silent removal: the new one cannot be
// created, which ends the install after the files and the version record
// were replaced. The old service stays stopped, nobody is told "-b" and the
// caller is not registered.
TEST_F(InstallEndToEnd, AnOldDriverServiceThatStaysBlocksTheNewOne) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.machine().Import(kRegHeader + kVersionSection +
                      "\"Version\"=\"3.9\"\r\n"
                      "\"UnInstallImage\"=-\r\n");
  PutFile(kInstalledLibrary, "old library", kOld);
  m_.AddFault("DeleteService", "vtrin", 5 /* ERROR_ACCESS_DENIED */);
  e2e::ToolRun run = InstallBeta();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 3.9 installed.\n\nStopping: ALPHA\n" + "Installing Driver (" +
                         kDisplay + ").\n" + kInstallFailed);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_TRUE(AllInstalled());
  EXPECT_EQ(Export(kVersionKey),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\r\n"
            "\"Version\"=\"4.0\"\r\n"
            "\"UnInstallImage\"=hex(2):43,00,3a,00,5c,00,57,00,49,00,4e,00,44,00,4f,00,57,00,\\\r\n"
            "  53,00,5c,00,6d,00,65,00,76,00,72,00,69,00,64,00,2e,00,65,00,78,00,65,00\r\n\r\n");
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_STOPPED);
  EXPECT_EQ(Export(kComponentKey).find("\\References\\BETA]"), std::string::npos);
}

// A driver that does not start does not fail the install: the products are
// told "-b" all the same and the caller is registered.
TEST_F(InstallEndToEnd, ADriverThatDoesNotStartStillCompletesTheUpgrade) {
  ASSERT_EQ(InstallAlpha().status, 0);
  PutFile(kInstalledTool, "older tool", kOld);
  m_.AddFault("StartServiceA", "vtrin", 1058 /* ERROR_SERVICE_DISABLED */);
  e2e::ToolRun run = InstallBeta();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 4.0 installed.\n\nStopping: ALPHA\n" + kNewDriver +
                         "\nStarting: ALPHA\n" + kInstallOk);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e", "ALPHA -b"}));
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_STOPPED);
  EXPECT_NE(Export(kComponentKey).find("\\References\\BETA]"), std::string::npos);
}

// A current component's driver that does not run (its start failed, or it
// was stopped since) is left so by the next install: the run only
// registers, no product is told, no service is asked anything but its state.
TEST_F(InstallEndToEnd, AStoppedDriverOfACurrentComponentIsLeftStopped) {
  m_.AddFault("StartServiceA", "vtrin", 1058 /* ERROR_SERVICE_DISABLED */);
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(m_.StateOf("vtrin"), SERVICE_STOPPED);
  std::string version_key = Export(kVersionKey);
  ASSERT_TRUE(emu::ResetCallCounts());
  ASSERT_TRUE(emu::SetSetting("count-calls", "1"));
  e2e::ToolRun run = InstallBeta();
  ASSERT_TRUE(emu::SetSetting("count-calls", "0"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 4.0 installed.\n" + kInstallOk);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_STOPPED);
  EXPECT_EQ(Export(kVersionKey), version_key);
  EXPECT_NE(Export(kComponentKey).find("\\References\\BETA]"), std::string::npos);
  for (const auto& [operation, count] : emu::CallCounts())
    for (const char* touch : {"StartServiceA", "ControlService", "DeleteService", "CreateServiceA", "CreateProcessA"})
      EXPECT_NE(operation, touch) << count;
}

// A current component whose driver service is gone (an install interrupted
// between deleting the old service and creating the new one) is installed
// in full, so that a reported success always comes with a driver.
TEST_F(InstallEndToEnd, ACurrentComponentWithoutItsDriverServiceIsInstalledAgain) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.RemoveService("vtrin");
  e2e::ToolRun run = InstallBeta();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 4.0 installed.\n\nStopping: ALPHA\n" + kNewDriver +
                         "\nStarting: ALPHA\n" + kInstallOk);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e", "ALPHA -b"}));
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);
  EXPECT_TRUE(AllInstalled());
}

// A component whose recorded version is higher than this tool's was put
// there by a newer installer: it is current, whether or not its driver
// service exists, so the caller is only registered. Nobody is told, no
// service is created and neither the newer files nor the record are
// replaced by this tool's older ones.
TEST_F(InstallEndToEnd, AHigherRecordedVersionOnlyRegistersEvenWithoutItsDriver) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"5.0\"\r\n");
  const time_t newer = time(nullptr) + 86400;
  for (const char* file : {kInstalledLibrary, kInstalledDriver, kInstalledTool}) PutFile(file, "newer", newer);

  e2e::ToolRun run = InstallBeta();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 5.0 installed.\n" + kInstallOk);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);

  m_.RemoveService("vtrin");
  std::string version_key = Export(kVersionKey);
  run = Run({"-k", "gamma", "-p", "C:\\Products\\Gamma\\pre.exe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 5.0 installed.\n" + kInstallOk);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  EXPECT_EQ(Export(kVersionKey), version_key);
  for (const char* file : {kInstalledLibrary, kInstalledDriver, kInstalledTool}) EXPECT_EQ(Contents(file), "newer");
  EXPECT_NE(Export(kComponentKey).find("\\References\\GAMMA]"), std::string::npos);
}

// No "Version" in the version key, and a "Version" longer than its 260-byte
// buffer (whose first characters would read as 4.0), both mean that nothing
// current is recorded: the full install runs without a word about a version.
TEST_F(InstallEndToEnd, AVersionMissingOrTooLongForItsBufferIsNoVersion) {
  ASSERT_EQ(InstallAlpha().status, 0);
  const std::string upgrade = kInstallBanner + "\nStopping: ALPHA\n" + kNewDriver + "\nStarting: ALPHA\n" + kInstallOk;

  m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=-\r\n");
  e2e::ToolRun run = InstallAlpha();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, upgrade);

  m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"4.0" + std::string(300, '0') + "\"\r\n");
  run = InstallAlpha();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, upgrade);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e", "ALPHA -b", "ALPHA -e", "ALPHA -b"}));
  EXPECT_NE(Export(kVersionKey).find("\"Version\"=\"4.0\"\r\n"), std::string::npos);
}

// The driver service when the manager keeps it or cannot be reached.
using DriverServiceEndToEnd = ComponentEndToEnd;

// A driver that refuses its stop is deleted while it runs, so it stays marked
// for deletion: the next install cannot create the new service (an error
// line, unlike an existing service), and the removal after it counts the
// marked service as removed, with no line after "Removing Service". The
// restart takes it away and a fresh install succeeds.
TEST_F(DriverServiceEndToEnd, MarkedForDeletionUntilTheRestart) {
  ASSERT_EQ(InstallAlpha().status, 0);
  emu::admin::ServiceSpec driver = testsupport::DriverService(SERVICE_RUNNING);
  driver.group = "Extended Base";
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
  m_.machine().Import(kRegHeader + "[HKEY_LOCAL_MACHINE\\" + kReferencesKey + "\\ALPHA]\r\n" +
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

  m_.machine().Import(kRegHeader + "[HKEY_LOCAL_MACHINE\\" + kReferencesKey + "\\ALPHA]\r\n" +
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

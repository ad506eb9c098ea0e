// The component installer end to end at the edges the other suites leave
// open: a version recorded by a newer installer, version and uninstaller
// values too long for their buffers, references that cannot be removed or
// hold no image, two files set aside in one run, and a pre-processor that
// never ends while its reference is removed.
#include <signal.h>

#include <cstdlib>

#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

constexpr const char* kReferencesKey = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References";
const std::string kRegHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kVersionSection =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\r\n";

using ComponentAudit = ComponentEndToEnd;

// A component whose recorded version is higher than this tool's was put
// there by a newer installer: it is current, whether or not its driver
// service exists, so the caller is only registered. Nobody is told, no
// service is created and neither the newer files nor the record are
// replaced by this tool's older ones.
TEST_F(ComponentAudit, AHigherRecordedVersionOnlyRegistersEvenWithoutItsDriver) {
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
TEST_F(ComponentAudit, AVersionMissingOrTooLongForItsBufferIsNoVersion) {
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

// An "UnInstallImage" too long for its buffer cannot be read: the removal
// of the last reference ends there with 0. What came before stands (the
// References key, the driver service, the driver and the library are gone);
// the version key, the component key (marked as a removal left unfinished)
// and the tool's copy stay, and no cut form of the path is deleted.
TEST_F(ComponentAudit, AnUninstallerTooLongForItsBufferEndsTheRemoval) {
  ASSERT_EQ(InstallAlpha().status, 0);
  const std::string recorded = "C:\\\\WINDOWS\\\\mevrid.exe" + std::string(300, ' ');
  m_.machine().Import(kRegHeader + kVersionSection + "\"UnInstallImage\"=\"" + recorded + "\"\r\n");
  std::string version_key = Export(kVersionKey);

  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_EQ(Export(kComponentKey),
            kRegHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\r\n"
                         "\"ChangeInProgress\"=\"Remove ALPHA\"\r\n\r\n" +
                version_key.substr(version_key.find("[HKEY")));
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_TRUE(SameAsRelease(kInstalledTool, "mevrid.exe"));
  EXPECT_TRUE(PendingDeletions().empty());
}

// A reference that holds a subkey cannot be deleted: its product has been
// told "-e" already, the deletion is reported with its name, and nothing
// else changes.
TEST_F(ComponentAudit, AReferenceWithASubkeyIsToldButStays) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.machine().Import(kRegHeader + "[HKEY_LOCAL_MACHINE\\" + kReferencesKey + "\\ALPHA\\Extra]\r\n\r\n");
  std::string before = m_.Registry();

  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + "\tERROR: Could not delete referenced component - ALPHA\n" + kRemoveFailed);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_EQ(m_.Registry(), before);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);
  EXPECT_TRUE(AllInstalled());
}

// A registration whose image cannot be written leaves its subkey without an
// image. That subkey still counts as a reference: removing the other one
// keeps the component; removing it runs nothing and takes the component
// away with it.
TEST_F(ComponentAudit, AReferenceLeftWithoutItsImageStillHoldsTheComponent) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.AddFault("RegSetValueExA", "PreProcImage", 5 /* ERROR_ACCESS_DENIED */);
  e2e::ToolRun run = InstallBeta();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kInstallBanner + "Found KOTA Version: 4.0 installed.\n" +
                         "\tERROR: Could not install referenced component - BETA\n" + kInstallFailed);
  EXPECT_EQ(Export(std::string(kReferencesKey) + "\\BETA"),
            kRegHeader + "[HKEY_LOCAL_MACHINE\\" + kReferencesKey + "\\BETA]\r\n\r\n");

  run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kRemoveOk);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);
  EXPECT_TRUE(AllInstalled());

  run = Run({"-k", "beta", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_FALSE(Exists(kInstalledTool));
}

// The installed uninstaller removes the last reference while the driver
// will not stop: both files in use are renamed into the root of C: under
// the runtime's names, "\s<process id in base 32>." (a trailing dot that the
// file system drops) and then ".1", and scheduled for deletion in that order
// as Windows records it: each "\??\" source, an empty target, and the list's
// closing empty string. The restart deletes both.
TEST_F(ComponentAudit, TwoFilesSetAsideInOneRunGetTwoNamesInOrder) {
  ASSERT_EQ(InstallAlpha().status, 0);
  emu::admin::ServiceSpec driver;
  driver.name = "vtrin";
  driver.driver = true;
  driver.image = "System32\\drivers\\vtrin.sys";
  driver.start_type = 2;
  driver.state = SERVICE_RUNNING;
  driver.refuse_stop = 1052;  // ERROR_INVALID_SERVICE_CONTROL
  m_.RemoveService("vtrin");
  m_.DefineService(driver);

  testsupport::ProcessResult run = testsupport::RunProgram({Host(kInstalledTool), "-k", "alpha", "-r"},
                                                           Host("C:\\WINDOWS"), {"MEVRID_RECORD_FILE=" + record_});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);

  Lines pending = PendingDeletions();
  ASSERT_EQ(pending.size(), 2u);
  const std::string first = pending[0];
  ASSERT_EQ(first.rfind("C:\\s", 0), 0u) << first;
  ASSERT_GT(first.size(), 4u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdefghijklmnopqrstuv", 4), std::string::npos) << first;
  EXPECT_EQ(pending[1], first + ".1");
  emu::admin::RegValue value;
  ASSERT_TRUE(emu::admin::ReadValue(kSessionManagerKey, "PendingFileRenameOperations", &value));
  EXPECT_EQ(value.type, static_cast<uint32_t>(REG_MULTI_SZ));
  EXPECT_EQ(value.data, "\\??\\" + first + std::string(2, '\0') + "\\??\\" + first + ".1" + std::string(3, '\0'));
  EXPECT_TRUE(SameAsRelease(first, "nt_node/vtrin.sys"));
  EXPECT_TRUE(SameAsRelease(first + ".1", "mevrid.exe"));
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledTool));

  std::string error;
  ASSERT_TRUE(emu::admin::Reboot(&error)) << error;
  EXPECT_FALSE(Exists(first));
  EXPECT_FALSE(Exists(first + ".1"));
  EXPECT_TRUE(PendingDeletions().empty());
}

// The product being removed never lets go: its pre-processor holds the
// removal for exactly two minutes of machine time and is then left running
// while the reference and the component are removed.
TEST_F(ComponentAudit, APreProcessorThatNeverEndsHoldsTheRemovalTwoMinutes) {
  ASSERT_TRUE(emu::SetSetting("process-real-wait-ms", "300"));
  PutHelper("never_ends", "C:\\Products\\Hang\\pre.exe");
  ASSERT_EQ(Run({"-k", "hang", "-p", "C:\\Products\\Hang\\pre.exe", "-q"}).status, 0);

  const long long before = m_.machine().NowMs();
  e2e::ToolRun run = Run({"-k", "hang", "-r"});
  const long long waited = m_.machine().NowMs() - before;
  std::vector<pid_t> left = testsupport::ProgramsRunningFrom(m_.machine().DriveC());
  for (pid_t pid : left) kill(pid, SIGKILL);

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_EQ(waited, 120000);
  EXPECT_EQ(left.size(), 1u);
  EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  EXPECT_FALSE(Exists(kInstalledTool));
}

}  // namespace
}  // namespace componente2e

// The remove mode end to end: one product of two, the last one (after which
// the machine is as it was before the first install), unknown names, files
// in use set aside until the next restart, a broken version key, an image
// the removal does not use, an uninstaller too long for its buffer,
// references that cannot be removed or hold no image, and a pre-processor
// that never ends while its reference is removed.
#include <signal.h>

#include <cstdlib>

#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

constexpr time_t kOld = 1000000000;

using RemoveEndToEnd = ComponentEndToEnd;

TEST_F(RemoveEndToEnd, RemovingOneProductThenTheLastLeavesNothing) {
  std::string clean = m_.Registry();
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(InstallBeta().status, 0);
  std::string version_key = Export(kVersionKey);

  e2e::ToolRun run = Run({"-k", "ALPHA", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kRemoveOk);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_EQ(Export(kVersionKey), version_key);
  EXPECT_TRUE(AllInstalled());
  EXPECT_EQ(m_.StateOf("vtrin"), 4u);

  run = Run({"-k", "beta", "-r", "-p", "ignored.exe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e", "BETA -e"}));
  // Only the vendor's key, which the component never owned, stays behind.
  std::string vendor = "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n";
  clean.insert(clean.find(vendor) + vendor.size(),
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation]\r\n\r\n");
  EXPECT_EQ(m_.Registry(), clean);
  ExpectDriverAndLibraryGone();
  EXPECT_FALSE(Exists(kInstalledTool));
  EXPECT_TRUE(PendingDeletions().empty());
}

TEST_F(RemoveEndToEnd, AnUnknownNameChangesNothing) {
  ASSERT_EQ(InstallAlpha().status, 0);
  std::string before = m_.Registry();
  e2e::ToolRun run = Run({"-k", "ghost", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + "\tERROR: Could not delete referenced component - GHOST\n" + kRemoveFailed);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(m_.Registry(), before);
  EXPECT_TRUE(AllInstalled());

  run = Run({"-k", "ghost", "-r", "-q"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
}

TEST_F(RemoveEndToEnd, WithoutSystemRootNothingIsRemoved) {
  ASSERT_EQ(InstallAlpha().status, 0);
  std::string before = m_.Registry();
  e2e::ToolRun run = Run({"-k", "alpha", "-r"}, {"SystemRoot="});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + "\tERROR: Could not determine %SystemRoot% directory.\n" + kRemoveFailed);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(m_.Registry(), before);
}

// A driver that will not stop stays in use: its file is set aside in the
// root of C: for the next restart, which then deletes it.
TEST_F(RemoveEndToEnd, ADriverInUseGoesAtTheNextRestart) {
  ASSERT_EQ(InstallAlpha().status, 0);
  emu::admin::ServiceSpec driver = testsupport::DriverService(4);
  driver.refuse_stop = 1052;  // ERROR_INVALID_SERVICE_CONTROL
  m_.DefineService(driver);

  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_FALSE(Exists(kInstalledTool));
  Lines pending = PendingDeletions();
  ASSERT_EQ(pending.size(), 1u);
  ASSERT_EQ(pending[0].rfind("C:\\s", 0), 0u) << pending[0];
  EXPECT_TRUE(SameAsRelease(pending[0], "nt_node/vtrin.sys"));
  // What is left goes with the restart: the keys go now.
  EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);

  std::string error;
  ASSERT_TRUE(emu::admin::Reboot(&error)) << error;
  EXPECT_FALSE(Exists(pending[0]));
  EXPECT_TRUE(PendingDeletions().empty());
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
}

// The uninstaller removing the last reference from its installed copy: its
// own running image cannot be deleted, so it is set aside like a driver.
TEST_F(RemoveEndToEnd, TheInstalledUninstallerSetsItsOwnImageAside) {
  ASSERT_EQ(InstallAlpha().status, 0);
  testsupport::ProcessResult run =
      testsupport::RunProgram({Host(kInstalledTool), "-k", "alpha", "-r"}, Host("C:\\WINDOWS"),
                              {"MEVRID_RECORD_FILE=" + record_});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_FALSE(Exists(kInstalledTool));
  Lines pending = PendingDeletions();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_TRUE(SameAsRelease(pending[0], "mevrid.exe"));

  std::string error;
  ASSERT_TRUE(emu::admin::Reboot(&error)) << error;
  EXPECT_FALSE(Exists(pending[0]));
}

TEST_F(RemoveEndToEnd, AVersionKeyWithoutUnInstallImageKeepsTheKeysAndTheTool) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.machine().Import(kRegHeader + kVersionSection + "\"UnInstallImage\"=-\r\n");
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);
  EXPECT_EQ(Export(kComponentKey),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\r\n"
            "\"ChangeInProgress\"=\"Remove ALPHA\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\r\n"
            "\"Version\"=\"4.0\"\r\n\r\n");
  ExpectDriverAndLibraryGone();
  EXPECT_TRUE(Exists(kInstalledTool));
}

TEST_F(RemoveEndToEnd, AReadOnlyInstalledLibraryIsStillRemoved) {
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(chmod(Host(kInstalledLibrary).c_str(), 0444), 0);
  e2e::ToolRun run = Run({"-k", "alpha", "-r", "-q"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e -q"}));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_TRUE(PendingDeletions().empty());
}

// References that cannot be counted after the reference was deleted: the
// removal cannot know whether the component is still used, so it stays as
// it is, and the legacy reference's silent removal that follows must not
// take it away either.
TEST_F(RemoveEndToEnd, ReferencesThatCannotBeCountedKeepTheComponent) {
  ASSERT_EQ(InstallAlpha().status, 0);
  std::string version_key = Export(kVersionKey);
  m_.AddFault("RegEnumKeyExA", "References", 1011 /* ERROR_CANTOPEN */);
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + "\tERROR: Could not locate KOTA components.\n" + kRemoveFailed);
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
  EXPECT_EQ(Export(std::string(kComponentKey) + "\\References"),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References]\r\n\r\n");
  EXPECT_EQ(Export(kVersionKey), version_key);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_RUNNING);
  EXPECT_TRUE(AllInstalled());
}

// The last removal on a machine that lost pieces of the component: each
// missing piece fails its own step, every other step still runs, and the
// keys go all the same.
TEST_F(RemoveEndToEnd, TheLastRemovalGoesOnPastMissingPieces) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.RemoveService("vtrin");
  ASSERT_EQ(unlink(Host(kInstalledLibrary).c_str()), 0);
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner +
                         "\tERROR: Could not open handle to service - vtrin\n"
                         "\tERROR: Could not open handle to service - vtrin\n"
                         "\tERROR: Could not delete (C:\\WINDOWS\\system32\\qelmot32.dll)\n" +
                         kRemoveFailed);
  // Every step still ran and the pieces were gone already: nothing is left
  // to finish, so the keys go all the same.
  EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledTool));
  EXPECT_TRUE(PendingDeletions().empty());
}

// The uninstaller deleted is the file the version key records, expanded
// when it is read; the copy that lies where the tool installs itself is
// then nobody's to delete.
TEST_F(RemoveEndToEnd, TheRecordedUninstallerIsTheOneDeleted) {
  ASSERT_EQ(InstallAlpha().status, 0);
  PutFile("C:\\WINDOWS\\Kelm\\uninst.exe", "recorded uninstaller", kOld);
  m_.machine().Import(
      kRegHeader + kVersionSection +
      // %SystemRoot%\Kelm\uninst.exe
      "\"UnInstallImage\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,"
      "5c,00,4b,00,65,00,6c,00,6d,00,5c,00,75,00,6e,00,69,00,6e,00,73,00,74,00,2e,00,65,00,78,00,65,00,"
      "00,00\r\n");
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_FALSE(Exists("C:\\WINDOWS\\Kelm\\uninst.exe"));
  EXPECT_TRUE(SameAsRelease(kInstalledTool, "mevrid.exe"));
  EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
}

// A key that holds a subkey the tool never made cannot be deleted: it stays,
// with the component key above it, and that costs the removal nothing.
TEST_F(RemoveEndToEnd, AVersionKeyWithAForeignSubkeyStays) {
  ASSERT_EQ(InstallAlpha().status, 0);
  const std::string foreign =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion\\Extra]\r\n"
      "\"Note\"=\"kept\"\r\n\r\n";
  m_.machine().Import("Windows Registry Editor Version 5.00\r\n\r\n" + foreign);
  std::string version_key = Export(kVersionKey);
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_EQ(Export(kComponentKey),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\r\n\r\n" +
                version_key.substr(version_key.find("[HKEY")));
  ExpectDriverAndLibraryGone();
  EXPECT_FALSE(Exists(kInstalledTool));
}

// The last removal fails to delete the driver service: the files go, the
// service stays, stopped, and the keys stay, marked. The same removal again
// deletes the service and ends it.
TEST_F(RemoveEndToEnd, AFailedLastRemovalIsFinishedByTheSameRemoval) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.AddFault("DeleteService", "vtrin", 5 /* ERROR_ACCESS_DENIED */);
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);
  EXPECT_NE(Export(kComponentKey).find("\"ChangeInProgress\"=\"Remove ALPHA\""), std::string::npos);
  EXPECT_EQ(m_.StateOf("vtrin"), SERVICE_STOPPED);
  EXPECT_FALSE(Exists(kInstalledDriver));
  EXPECT_FALSE(Exists(kInstalledTool));

  run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
  EXPECT_EQ(Export(kComponentKey).find("[HKEY"), std::string::npos);
  EXPECT_FALSE(m_.ServiceExists("vtrin"));
  EXPECT_FALSE(Exists(kInstalledLibrary));
  EXPECT_EQ(Recorded(), (Lines{"ALPHA -e"}));
}

// A version key that cannot be opened: the removal fails, the keys stay,
// marked, and of the files only the tool's copy, which that key records.
TEST_F(RemoveEndToEnd, AnUnopenableVersionKeyLeavesOnlyTheToolsCopy) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.AddFault("RegOpenKeyExA", "KelmKOTA\\CurrentVersion", 5 /* ERROR_ACCESS_DENIED */, 1, true);
  e2e::ToolRun run = Run({"-k", "alpha", "-r"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kRemoveBanner + kStopAndRemove + kRemoveFailed);
  EXPECT_NE(Export(kComponentKey).find("\"ChangeInProgress\"=\"Remove ALPHA\""), std::string::npos);
  ExpectDriverAndLibraryGone();
  EXPECT_TRUE(SameAsRelease(kInstalledTool, "mevrid.exe"));
}

// "-r" does not use the image: one too long for its field, or an empty one,
// is passed over and the reference is removed.
TEST_F(RemoveEndToEnd, RemovalIgnoresAnImageItDoesNotUse) {
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

// An "UnInstallImage" too long for its buffer cannot be read: the removal
// of the last reference ends there with 0. What came before stands (the
// References key, the driver service, the driver and the library are gone);
// the version key, the component key (marked as a removal left unfinished)
// and the tool's copy stay, and no cut form of the path is deleted.
TEST_F(RemoveEndToEnd, AnUninstallerTooLongForItsBufferEndsTheRemoval) {
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
  ExpectDriverAndLibraryGone();
  EXPECT_TRUE(SameAsRelease(kInstalledTool, "mevrid.exe"));
  EXPECT_TRUE(PendingDeletions().empty());
}

// A reference that holds a subkey cannot be deleted: its product has been
// told "-e" already, the deletion is reported with its name, and nothing
// else changes.
TEST_F(RemoveEndToEnd, AReferenceWithASubkeyIsToldButStays) {
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
TEST_F(RemoveEndToEnd, AReferenceLeftWithoutItsImageStillHoldsTheComponent) {
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
  ExpectDriverAndLibraryGone();
  EXPECT_FALSE(Exists(kInstalledTool));
}

// The installed uninstaller removes the last reference while the driver
// will not stop: both files in use are renamed into the root of C: under
// the runtime's names, "\s<process id in base 32>." (a trailing dot that the
// file system drops) and then ".1", and scheduled for deletion in that order
// as Windows records it: each "\??\" source, an empty target, and the list's
// closing empty string. The restart deletes both.
TEST_F(RemoveEndToEnd, TwoFilesSetAsideInOneRunGetTwoNamesInOrder) {
  ASSERT_EQ(InstallAlpha().status, 0);
  emu::admin::ServiceSpec driver = testsupport::DriverService(SERVICE_RUNNING);
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
TEST_F(RemoveEndToEnd, APreProcessorThatNeverEndsHoldsTheRemovalTwoMinutes) {
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

// The component's end-to-end tests: the built tool run from a release copy on
// a fresh machine, with recording pre-processors on the emulated drive, and
// the whole output, exit status, registry, services and files compared.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/admin.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/text_lines.h"

namespace componente2e {

inline const std::string kDisplay = "Kelm Embedded System Management Driver";
inline const std::string kInstallBanner = "\n\nInstalling Components\n*********************\n\n";
inline const std::string kRemoveBanner = "\n\nRemoving Components\n*******************\n\n";
inline const std::string kInstallOk = "\nInstall Summary\n***************\nInstall Complete: No errors encountered.\n\n";
inline const std::string kInstallFailed =
    "\nInstall Summary\n***************\nInstall Complete: Encountered errors -\n"
    "\t* During KOTA component install.\n\n";
inline const std::string kRemoveOk = "\nRemove Summary\n**************\nRemove Complete: No errors encountered.\n\n";
inline const std::string kRemoveFailed =
    "\nRemove Summary\n**************\nRemove Complete: Encountered errors -\n"
    "\t* During KOTA component uninstall.\n\n";
inline const std::string kNewDriver =
    "Installing Driver (" + kDisplay + ").\nStarting Service (" + kDisplay + ")\n";
inline const std::string kStopAndRemove =
    "Stopping Service (" + kDisplay + ")\nRemoving Service (" + kDisplay + ").\n";

constexpr const char* kInstalledLibrary = "C:\\WINDOWS\\system32\\qelmot32.dll";
constexpr const char* kInstalledDriver = "C:\\WINDOWS\\system32\\drivers\\vtrin.sys";
constexpr const char* kInstalledTool = "C:\\WINDOWS\\mevrid.exe";
constexpr const char* kComponentKey = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA";
constexpr const char* kVersionKey = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion";
constexpr const char* kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const char* kReferencesKey = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References";
inline const std::string kRegHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
inline const std::string kVersionSection =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\r\n";

using Lines = std::vector<std::string>;

class ComponentEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    record_ = std::filesystem::path(m_.release_dir()).parent_path().string() + "/record.txt";
    PutHelper("record_args", "C:\\Products\\Alpha\\pre.exe");
    PutHelper("record_args", "C:\\Products\\Beta\\pre.exe");
  }

  // The tool from the release directory, with the pre-processors' record
  // file in its environment.
  e2e::ToolRun Run(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    env.push_back("MEVRID_RECORD_FILE=" + record_);
    return m_.Run(args, env);
  }
  e2e::ToolRun InstallAlpha() { return Run({"-k", "alpha", "-p", "C:\\Products\\Alpha\\pre.exe ALPHA"}); }
  e2e::ToolRun InstallBeta() { return Run({"-k", "Beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"}); }

  std::string Host(const std::string& windows_path) { return m_.machine().HostPath(windows_path); }
  std::string Release(const std::string& relative) { return m_.release_dir() + "/" + relative; }
  std::string Export(const std::string& key) { return m_.machine().Export(key); }
  bool Exists(const std::string& windows_path) { return testsupport::FileExists(Host(windows_path)); }
  // The driver service is deleted and the driver and the library are gone:
  // what a last removal leaves, whatever becomes of the tool's copy.
  void ExpectDriverAndLibraryGone() {
    EXPECT_FALSE(m_.ServiceExists("vtrin"));
    EXPECT_FALSE(Exists(kInstalledDriver));
    EXPECT_FALSE(Exists(kInstalledLibrary));
  }
  std::string Contents(const std::string& windows_path) { return testsupport::ReadFile(Host(windows_path)); }
  bool SameAsRelease(const std::string& windows_path, const std::string& relative) {
    return Exists(windows_path) && Contents(windows_path) == testsupport::ReadFile(Release(relative));
  }
  bool AllInstalled() {
    return SameAsRelease(kInstalledTool, "mevrid.exe") && SameAsRelease(kInstalledLibrary, "nt_node/qelmot32.dll") &&
           SameAsRelease(kInstalledDriver, "nt_node/vtrin.sys");
  }

  void PutHelper(const std::string& helper, const std::string& windows_path) {
    std::string to = Host(windows_path);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(to).parent_path(), ec);
    ASSERT_TRUE(std::filesystem::copy_file(testsupport::HelpersDir() + "/" + helper, to,
                                           std::filesystem::copy_options::overwrite_existing, ec))
        << ec.message();
  }
  void PutFile(const std::string& windows_path, const std::string& contents, time_t write_time) {
    ASSERT_TRUE(testsupport::WriteFile(Host(windows_path), contents, true));
    struct timespec times[2] = {{write_time, 0}, {write_time, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Host(windows_path).c_str(), times, 0), 0);
  }

  Lines Recorded() { return testsupport::SplitLines(testsupport::ReadFile(record_)); }

  // The deletions waiting for the next restart (sources, without the "\??\").
  Lines PendingDeletions() {
    Lines sources;
    emu::admin::RegValue value;
    if (!emu::admin::ReadValue(kSessionManagerKey, "PendingFileRenameOperations", &value)) return sources;
    for (const auto& [source, target] : testsupport::PendingRenamePairs(value.data)) {
      EXPECT_EQ(target, "") << "a deletion has no new name";
      sources.push_back(source.rfind("\\??\\", 0) == 0 ? source.substr(4) : source);
    }
    return sources;
  }

  e2e::ReleaseMachine m_;
  std::string record_;
};

}  // namespace componente2e

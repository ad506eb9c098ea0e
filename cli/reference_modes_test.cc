// The install and remove modes in process: banners, summaries and exit
// status for each outcome, byte for byte.
#include "cli/reference_modes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>  // the fixture sets file times relative to AT_FDCWD

#include "component/component_keys.h"
#include "tests/support/component_fixture.h"

namespace {

constexpr char kDriverLines[] =
    "Installing Driver (Kelm Embedded System Management Driver).\n"
    "Starting Service (Kelm Embedded System Management Driver)\n";

class ReferenceModes : public componenttest::ComponentTest {
 protected:
  struct Run {
    int status;
    std::string out;
  };
  Run Mode(const char* reference, const char* image, Flag remove, Flag verbose = 1) {
    RunOptions options;
    std::strcpy(options.ReferenceName, reference);
    std::strcpy(options.PreProcImage, image);
    options.Remove = remove;
    options.Verbose = verbose;
    Run run{-1, {}};
    run.out = Captured([&] { run.status = RunReferenceModes(options, "prog"); });
    return run;
  }
};

TEST_F(ReferenceModes, InstallSummaryFollowsTheProcedureDirectly) {
  Run run = Mode("ALPHA", "C:\\missing\\alpha.exe", 0);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("\n\nInstalling Components\n*********************\n\n") + kDriverLines +
                         "\nInstall Summary\n***************\nInstall Complete: No errors encountered.\n\n");
  std::string image;
  ASSERT_TRUE(GetRegistryBytes(std::string(kKotaReferencesKey) + "\\ALPHA", "PreProcImage", &image));
  EXPECT_EQ(image, "C:\\missing\\alpha.exe");
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\BROMVELD"));
}

TEST_F(ReferenceModes, FailedInstallNamesTheInstallPhase) {
  std::filesystem::remove_all(Release("nt_node"));
  Run run = Mode("ALPHA", "C:\\a.exe", 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "\n\nInstalling Components\n*********************\n\n"
            "\tERROR: Could not copy to (C:\\WINDOWS\\system32\\qelmot32.dll)\n"
            "\nInstall Summary\n***************\nInstall Complete: Encountered errors -\n"
            "\t* During KOTA component install.\n\n");
  run = Mode("ALPHA", "C:\\a.exe", 0, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
}

TEST_F(ReferenceModes, FailedRemovalNamesTheUninstallPhase) {
  Run run = Mode("NOPE", "", 1);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "\n\nRemoving Components\n*******************\n\n"
            "\tERROR: Could not delete referenced component - NOPE\n"
            "\nRemove Summary\n**************\nRemove Complete: Encountered errors -\n"
            "\t* During KOTA component uninstall.\n\n");
  EXPECT_EQ(Mode("NOPE", "", 1, 0).out, "");
}

}  // namespace

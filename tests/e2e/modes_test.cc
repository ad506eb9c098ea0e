// The install and remove modes through the built tool, run from a release
// directory as a user runs it: whole output, exit status and what is left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/registry_access.h"
#include "tests/e2e/component_e2e_support.h"
#include "tests/support/test_machine.h"

namespace {

using testsupport::ProcessResult;

// The tool's banners and summaries, as the component tests expect them.
using componente2e::kInstallBanner;
using componente2e::kInstallOk;
using componente2e::kNewDriver;
using componente2e::kRemoveBanner;
using componente2e::kRemoveOk;

class ModesEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    work_ = testsupport::MakeTempDir("mevrid-e2e-modes");
    release_ = testsupport::MakeReleaseCopy(work_);
  }
  void TearDown() override { testsupport::RemoveTree(work_); }

  ProcessResult Run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), release_ + "/mevrid.exe");
    return testsupport::RunProgram(args, release_, env);
  }
  static std::string Image(const std::string& reference) {
    char image[260];
    const std::string key = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\" + reference;
    return ReadRegistryText(key.c_str(), "PreProcImage", KEY_READ, image, sizeof image) ? image : "<none>";
  }
  std::string Host(const std::string& windows_path) const { return machine_.HostPath(windows_path); }
  static bool ServiceExists(const std::string& name) {
    emu::admin::ServiceInfo info;
    std::string error;
    return emu::admin::QueryService(name, &info, &error);
  }

  testsupport::TestMachine machine_;
  std::string work_;
  std::string release_;
};

TEST_F(ModesEndToEnd, FirstInstallAndLastRemoval) {
  ProcessResult r = Run({"-k", "alpha", "-p", "C:\\Products\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kInstallBanner) + kNewDriver + kInstallOk);
  EXPECT_EQ(testsupport::ReadFile(Host("C:\\WINDOWS\\system32\\qelmot32.dll")),
            testsupport::ReadFile(release_ + "/nt_node/qelmot32.dll"));
  EXPECT_TRUE(testsupport::FileExists(Host("C:\\WINDOWS\\system32\\drivers\\vtrin.sys")));
  EXPECT_TRUE(testsupport::FileExists(Host("C:\\WINDOWS\\mevrid.exe")));
  char image[260];
  ASSERT_TRUE(ReadRegistryText("SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA", "PreProcImage",
                               KEY_READ, image, sizeof image));
  EXPECT_STREQ(image, "C:\\Products\\alpha.exe");

  // "-p" is not used with "-r".
  r = Run({"-k", "Alpha", "-r", "-p", "C:\\other.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kRemoveBanner) +
                       "Stopping Service (Kelm Embedded System Management Driver)\n"
                       "Removing Service (Kelm Embedded System Management Driver).\n" +
                       kRemoveOk);
  EXPECT_FALSE(RegistryKeyExists("SOFTWARE\\Kelm Computer Corporation\\KelmKOTA", KEY_READ));
  EXPECT_FALSE(ServiceExists("vtrin"));
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\WINDOWS\\system32\\qelmot32.dll")));
  EXPECT_FALSE(testsupport::FileExists(Host("C:\\WINDOWS\\mevrid.exe")));
}

TEST_F(ModesEndToEnd, QuietRunsPrintNothingAndKeepTheirStatus) {
  ProcessResult r = Run({"-q", "-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  // A second install finds the component current and only registers.
  r = Run({"-k", "beta", "-p", "C:\\beta.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kInstallBanner) + "Found KOTA Version: 4.0 installed.\n" + kInstallOk);
  r = Run({"-k", "gamma", "-r", "-q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(ServiceExists("vtrin"));
}

// Options start with "-" or "/" in either letter case, only their letter
// counts, and free arguments are passed over wherever they stand.
TEST_F(ModesEndToEnd, OptionsAreLettersAfterEitherSwitchCharacter) {
  ProcessResult r = Run({"free", "/K", "abc", "/P", "C:\\abc.exe -x", "more", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kInstallBanner) + kNewDriver + kInstallOk);
  EXPECT_EQ(Image("ABC"), "C:\\abc.exe -x");
  EXPECT_EQ(Image("abc"), "C:\\abc.exe -x");  // one key, whatever the case asked

  // "-kalpha abc": the text after the letter is ignored, the next argument
  // is the name; "-Remove" and "-Quiet" are "-r" and "-q".
  r = Run({"-kalpha", "abc", "-Remove", "-Quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(RegistryKeyExists("SOFTWARE\\Kelm Computer Corporation\\KelmKOTA", KEY_READ));
  EXPECT_FALSE(ServiceExists("vtrin"));
}

// Quiet, a failed install says nothing at all: no banner, no error line, no
// summary; the status alone tells.
TEST_F(ModesEndToEnd, QuietFailedInstallPrintsNothing) {
  ProcessResult r = Run({"-k", "alpha", "-p", "C:\\alpha.exe", "-q"}, {"SystemRoot="});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(RegistryKeyExists("SOFTWARE\\Kelm Computer Corporation\\KelmKOTA", KEY_READ));
}

}  // namespace

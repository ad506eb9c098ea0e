#include "component/currency_check.h"

#include "component/component_files.h"
#include "component/component_keys.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

constexpr time_t kOld = 1000000000;
constexpr time_t kNew = 1100000000;

class CurrencyCheckTest : public ComponentTest {
 protected:
  void SetVersion(const std::string& bytes) { SetRegistryBytes(kKotaVersionKey, "Version", REG_SZ, bytes); }

  // Runs the check, returning whether it asks for an install, and records
  // its output and the files it opened (in order).
  bool Check(Flag verbose = 1) {
    bool result = false;
    std::vector<std::string> trace;
    emu::SetCallTrace(&trace);
    output_ = Captured([&] { result = CheckComponentCurrency("C:\\WINDOWS", verbose).InstallNeeded; });
    emu::SetCallTrace(nullptr);
    opened_.clear();
    for (const std::string& call : trace)
      if (call.rfind("CreateFileA ", 0) == 0) opened_.push_back(call.substr(12));
    return result;
  }

  std::string output_;
  std::vector<std::string> opened_;
};

TEST_F(CurrencyCheckTest, NothingRecordedMeansInstallWithoutLookingAtFiles) {
  PutInstalledFiles(kNew);
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "");
  EXPECT_TRUE(opened_.empty());

  // The key without a "Version" value.
  SetRegistryBytes(kKotaVersionKey, "UnInstallImage", REG_EXPAND_SZ, "C:\\WINDOWS\\mevrid.exe");
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "");
  EXPECT_TRUE(opened_.empty());
}

TEST_F(CurrencyCheckTest, AVersionThatDoesNotParseIsSilent) {
  PutInstalledFiles(kNew);
  for (const char* text : {"4", "", "x.0", "4,0", "4."}) {
    SetVersion(text);
    EXPECT_TRUE(Check()) << text;
    EXPECT_EQ(output_, "") << text;
    EXPECT_TRUE(opened_.empty()) << text;
  }
}

TEST_F(CurrencyCheckTest, AnOlderVersionIsReportedAndReplacedWithoutLookingAtFiles) {
  PutInstalledFiles(kNew);
  SetReleaseTimes(kOld);
  SetVersion("3.9");
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "Found KOTA Version: 3.9 installed.\n");
  EXPECT_TRUE(opened_.empty());

  SetVersion("4.-1");
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "Found KOTA Version: 4.-1 installed.\n");

  EXPECT_EQ(Check(0), 1);
  EXPECT_EQ(output_, "");
}

TEST_F(CurrencyCheckTest, ACurrentOrHigherVersionWithCurrentFilesNeedsNothing) {
  PutInstalledFiles(kNew);
  SetReleaseTimes(kOld);
  for (const char* text : {"4.0", "5.0", "4.7"}) {
    SetVersion(text);
    EXPECT_FALSE(Check()) << text;
    EXPECT_EQ(output_, std::string("Found KOTA Version: ") + text + " installed.\n");
    // Library, driver, tool; each installed copy before its release file.
    EXPECT_EQ(opened_, (std::vector<std::string>{kInstalledLibrary, "nt_node\\qelmot32.dll", kInstalledDriver,
                                                 "nt_node\\vtrin.sys", kInstalledTool, "mevrid.exe"}));
  }
  EXPECT_EQ(Check(0), 0);
  EXPECT_EQ(output_, "");
}

TEST_F(CurrencyCheckTest, EqualTimesCountAsCurrent) {
  PutInstalledFiles(kNew);
  SetReleaseTimes(kNew);
  SetVersion("4.0");
  EXPECT_FALSE(Check());
}

TEST_F(CurrencyCheckTest, AMissingLibraryStopsAtTheFirstRow) {
  PutInstalledFiles(kNew);
  SetReleaseTimes(kOld);
  ASSERT_EQ(unlink(Host(kInstalledLibrary).c_str()), 0);
  SetVersion("4.0");
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "Found KOTA Version: 4.0 installed.\n");
  EXPECT_EQ(opened_, (std::vector<std::string>{kInstalledLibrary}));
}

TEST_F(CurrencyCheckTest, AnOlderToolIsFoundAtTheThirdComparison) {
  PutInstalledFiles(kNew);
  SetReleaseTimes(kOld);
  SetWriteTime(Host(kInstalledTool), kOld - 1);
  SetVersion("4.0");
  EXPECT_TRUE(Check());
  EXPECT_EQ(opened_.size(), 6u);
  EXPECT_EQ(opened_.back(), "mevrid.exe");
}

TEST_F(CurrencyCheckTest, AReleaseFileMissingCountsAsCurrent) {
  PutInstalledFiles(kNew);
  SetReleaseTimes(kOld);
  ASSERT_EQ(unlink(Release("nt_node/vtrin.sys").c_str()), 0);
  SetVersion("4.0");
  EXPECT_FALSE(Check());
}

// "Version" as regedit stores it (with its terminator) reads the same; a
// value that fills the whole 260-byte buffer leaves no room for the
// terminator and counts as absent, instead of being read as "4.0" and more.
TEST_F(CurrencyCheckTest, TheVersionTextEndsAtItsLengthAndMustFitTheBuffer) {
  PutInstalledFiles(kNew);
  SetReleaseTimes(kOld);
  SetVersion(std::string("4.0\0", 4));
  EXPECT_FALSE(Check());
  EXPECT_EQ(output_, "Found KOTA Version: 4.0 installed.\n");

  SetVersion("4.0" + std::string(257, ' '));
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "");

  SetVersion("4.0" + std::string(256, ' ') + std::string(1, '\0'));
  EXPECT_FALSE(Check());
}

TEST_F(CurrencyCheckTest, AnUnreadableVersionKeyMeansInstall) {
  PutInstalledFiles(kNew);
  SetVersion("4.0");
  Fault("RegOpenKeyExA", "CurrentVersion", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "");
  Fault("RegQueryValueExA", "Version", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Check());
  EXPECT_EQ(output_, "");
}

// The row that decided, which the status program's plan names: the first row
// that asks for an install, or Current when none does.
TEST_F(CurrencyCheckTest, TheDecidingRowIsTheFirstThatAsksForAnInstall) {
  struct Case {
    const char* version;  // nullptr: none recorded
    const char* older;    // the installed file made older, or nullptr
    CurrencyRow row;
    const char* file;
  };
  const Case cases[] = {
      {nullptr, kInstalledLibrary, CurrencyRow::NoVersion, nullptr},
      {"4", nullptr, CurrencyRow::VersionUnreadable, nullptr},
      {"3.9", kInstalledLibrary, CurrencyRow::VersionOlder, nullptr},
      {"4.0", kInstalledDriver, CurrencyRow::FileOlder, "vtrin.sys"},
      {"5.0", kInstalledTool, CurrencyRow::FileOlder, "mevrid.exe"},
      {"4.0", nullptr, CurrencyRow::Current, nullptr},
  };
  for (const Case& c : cases) {
    PutInstalledFiles(kNew);
    SetReleaseTimes(kOld);
    if (c.version) SetVersion(c.version);
    if (c.older) SetWriteTime(Host(c.older), kOld - 1);
    const CurrencyCheck check = CheckComponentCurrency("C:\\WINDOWS", 0);
    EXPECT_EQ(check.Row, c.row) << (c.version ? c.version : "none");
    EXPECT_EQ(check.InstallNeeded, c.row != CurrencyRow::Current);
    EXPECT_STREQ(check.File ? check.File->FileName : nullptr, c.file);
    EXPECT_EQ(check.ThisVersionRecorded, c.version && std::string(c.version) == "4.0");
  }
}

}  // namespace
}  // namespace componenttest

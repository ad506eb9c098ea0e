// The record lists every failed call that decided the run's result or its
// need for a restart, one fault point per case: the install lock's mutex,
// a deletion refused and the file set aside, the recorded uninstaller that
// cannot be read, and a deleted driver service whose handle could not be
// closed, which stays marked for deletion until the restart.
#include <regex>

#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

const std::string kAlphaImage = "C:\\Products\\Alpha\\pre.exe ALPHA";

struct FaultPoint {
  const char* name;
  const char* operation;
  const char* match;
  uint32_t error;
  int64_t nth;
  std::vector<std::string> args;
  int exit_status;  // with MEVRID_EXIT_CODES=msi
  bool restart_required;
  const char* errors;  // the record's "errors" array
};
void PrintTo(const FaultPoint& c, std::ostream* os) { *os << c.name; }

class RecordErrors : public ComponentEndToEnd, public testing::WithParamInterface<FaultPoint> {};

TEST_P(RecordErrors, ListTheCallThatDecided) {
  const FaultPoint& c = GetParam();
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.AddFault(c.operation, c.match, c.error, c.nth);
  const std::string record = std::filesystem::path(m_.release_dir()).parent_path().string() + "/result.json";
  const e2e::ToolRun run = Run(c.args, {"MEVRID_EXIT_CODES=msi", "MEVRID_RESULT_FILE=" + record});
  EXPECT_EQ(run.status, c.exit_status & 0xFF);
  const std::string text = testsupport::ReadFile(record);
  EXPECT_NE(text.find("\"exit_status\":" + std::to_string(c.exit_status) + ","), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("\"restart_required\":") + (c.restart_required ? "true" : "false")),
            std::string::npos)
      << text;
  std::smatch errors;
  ASSERT_TRUE(std::regex_search(text, errors, std::regex(R"("errors":(\[.*?\]),"reference")"))) << text;
  EXPECT_EQ(errors[1].str(), c.errors);
}

const std::vector<std::string> kRemoveAlpha = {"-k", "alpha", "-r"};

INSTANTIATE_TEST_SUITE_P(
    Faults, RecordErrors,
    testing::Values(
        FaultPoint{"InstallLock",
                   "CreateMutexA",
                   "",
                   5,
                   1,
                   {"-k", "beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"},
                   1603,
                   false,
                   R"([{"step":"start","call":"CreateMutexA","code":5,"subject":"Global\\MevridKotaInstall"}])"},
        FaultPoint{"LibraryInUseSetAside", "DeleteFileA", "qelmot32.dll", 32, 1, kRemoveAlpha, 3010, true,
                   R"([{"step":"delete-files","call":"DeleteFileA","code":32,)"
                   R"("subject":"C:\\WINDOWS\\system32\\qelmot32.dll"}])"},
        FaultPoint{"DriverRefusedSetAside", "DeleteFileA", "vtrin.sys", 5, 1, kRemoveAlpha, 3010, true,
                   R"([{"step":"delete-files","call":"DeleteFileA","code":5,)"
                   R"("subject":"C:\\WINDOWS\\system32\\drivers\\vtrin.sys"}])"},
        FaultPoint{"UninstallerUnreadable", "RegQueryValueExA", "UnInstallImage", 5, 1, kRemoveAlpha, 1603, false,
                   R"([{"step":"delete-files","call":"RegQueryValueExA","code":5,)"
                   R"("subject":"SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion"}])"},
        FaultPoint{"DeletedDriverHandleNotClosed", "CloseServiceHandle", "vtrin", 6, 2, kRemoveAlpha, 3010, true,
                   R"([{"step":"remove-driver","call":"CloseServiceHandle","code":6,"subject":"vtrin"}])"}),
    [](const testing::TestParamInfo<FaultPoint>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace componente2e

// The deployment settings as read from the environment, and the exit codes.
#include "cli/deployment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

TEST(DeploymentSettings, OnlyAWholeCountOfSecondsBoundsTheLockWait) {
  const struct {
    const char* text;  // nullptr: unset
    int seconds;
  } cases[] = {{nullptr, -1},          {"", -1},        {"0", 0}, {"900", 900}, {"5s", -1}, {"-1", -1}, {" 5", -1},
               {"31622400", 31622400}, {"31622401", -1}};
  for (const auto& c : cases) {
    if (c.text)
      setenv("MEVRID_LOCK_TIMEOUT", c.text, 1);
    else
      unsetenv("MEVRID_LOCK_TIMEOUT");
    EXPECT_EQ(ReadDeploymentSettings().LockTimeoutSeconds, c.seconds) << (c.text ? c.text : "unset");
  }
  unsetenv("MEVRID_LOCK_TIMEOUT");
}

TEST(DeploymentSettings, TheCodesAreMappedOnlyForMsiAndTheRecordStaysWithThisRun) {
  for (const char* value : {"MSI", "msi ", "1", ""}) {
    setenv("MEVRID_EXIT_CODES", value, 1);
    EXPECT_FALSE(ReadDeploymentSettings().MsiExitCodes) << value;
  }
  setenv("MEVRID_EXIT_CODES", "msi", 1);
  setenv("MEVRID_RESULT_FILE", "/tmp/record.json", 1);
  const DeploymentSettings settings = ReadDeploymentSettings();
  EXPECT_TRUE(settings.MsiExitCodes);
  EXPECT_TRUE(settings.Journal.KeepState);
  EXPECT_EQ(settings.Journal.RecordPath, "/tmp/record.json");
  EXPECT_EQ(getenv("MEVRID_RESULT_FILE"), nullptr) << "children would write this run's record";
  unsetenv("MEVRID_EXIT_CODES");
}

TEST(DeploymentSettings, OnlyExactlyOnAsksForTheAllOrNothingInstall) {
  for (const char* value : {"ON", "on ", "1", "true", ""}) {
    setenv("MEVRID_ROLLBACK", value, 1);
    EXPECT_FALSE(ReadDeploymentSettings().Rollback) << value;
  }
  setenv("MEVRID_ROLLBACK", "on", 1);
  EXPECT_TRUE(ReadDeploymentSettings().Rollback);
  unsetenv("MEVRID_ROLLBACK");
  EXPECT_FALSE(ReadDeploymentSettings().Rollback);
}

TEST(DeploymentExitStatus, EachEndHasItsInstallerCode) {
  DeploymentSettings msi;
  msi.MsiExitCodes = true;
  const DeploymentSettings plain;
  const struct {
    RunEnd end;
    int status;
    bool restart;
    int code;
  } cases[] = {
      {RunEnd::Success, 0, false, 0},    {RunEnd::Success, 0, true, 3010}, {RunEnd::Busy, 1, false, 1618},
      {RunEnd::Refused, 1, false, 1638}, {RunEnd::Usage, 1, false, 1639},  {RunEnd::Failure, 1, true, 1603},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeploymentExitStatus(msi, c.end, c.status, c.restart), c.code) << c.code;
    EXPECT_EQ(DeploymentExitStatus(plain, c.end, c.status, c.restart), c.status) << c.code;
  }
}

}  // namespace

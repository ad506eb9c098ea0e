#include "cli/deployment.h"

#include <cstdlib>
#include <cstring>

#include "component/rollback_mode.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kSuccessRestartRequired = 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr int kInstallInProgress = 1618;        // ERROR_INSTALL_ALREADY_RUNNING
constexpr int kAnotherVersionInstalled = 1638;  // ERROR_PRODUCT_VERSION
constexpr int kInvalidCommandLine = 1639;       // ERROR_INVALID_COMMAND_LINE
constexpr int kInstallFailure = 1603;           // ERROR_INSTALL_FAILURE

// A whole count of seconds, nothing else: "5s", "-1" or "" are ignored, and
// so is a count too large to be meant (over a year).
int ParseSeconds(const char* text) {
  if (text == nullptr || *text == '\0') return -1;
  long long seconds = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9') return -1;
    seconds = seconds * 10 + (*c - '0');
    if (seconds > 366LL * 24 * 3600) return -1;
  }
  return static_cast<int>(seconds);
}

}  // namespace

// The tool's own variables are read with the runtime's getenv: spelled as
// documented, they need none of the case-blind search that Windows names
// get on POSIX, which every run would pay for.
DeploymentSettings ReadDeploymentSettings() {
  DeploymentSettings settings;
  const char* codes = getenv("MEVRID_EXIT_CODES");
  settings.MsiExitCodes = codes != nullptr && strcmp(codes, "msi") == 0;
  settings.LockTimeoutSeconds = ParseSeconds(getenv("MEVRID_LOCK_TIMEOUT"));
  settings.Rollback = RollbackModeRequested();
  settings.Journal = ReadJournalSettings();
  settings.Journal.KeepState = settings.MsiExitCodes;
  return settings;
}

int DeploymentExitStatus(const DeploymentSettings& settings, RunEnd end, int status, bool restart_required) {
  if (!settings.MsiExitCodes) return status;
  switch (end) {
    case RunEnd::Success:
      return restart_required ? kSuccessRestartRequired : kSuccess;
    case RunEnd::Busy:
      return kInstallInProgress;
    case RunEnd::Refused:
      return kAnotherVersionInstalled;
    case RunEnd::Usage:
      return kInvalidCommandLine;
    case RunEnd::Failure:
      break;
  }
  return kInstallFailure;
}

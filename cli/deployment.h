// What deployment engines can ask of a run through the environment, each
// read once at start: the Windows Installer exit codes, a bound on the wait
// for the install lock, the journal's record and log, and the all-or-nothing
// install. Unset (or set to
// anything not understood), each leaves the run exactly as it is.
#pragma once

#include "journal/run_journal.h"

struct DeploymentSettings {
  bool MsiExitCodes = false;    // MEVRID_EXIT_CODES=msi
  int LockTimeoutSeconds = -1;  // MEVRID_LOCK_TIMEOUT; -1: wait without end
  bool Rollback = false;        // MEVRID_ROLLBACK=on: a failed install puts the component back
  JournalSettings Journal;
};

DeploymentSettings ReadDeploymentSettings();

// How a run ended, as the exit codes tell it apart.
enum class RunEnd { Success, Failure, Busy, Refused, Usage };

// The Windows Installer code for the run's end under MEVRID_EXIT_CODES=msi,
// a success needing a restart being 3010; otherwise the tool's own status.
int DeploymentExitStatus(const DeploymentSettings& settings, RunEnd end, int status, bool restart_required);

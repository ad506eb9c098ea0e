// The older-node handling: an older managed-node package (3.0 to 3.4) keeps
// its own copies of the driver and the library, so an ordinary install is
// refused there; "-g" stops its services, deletes its copies, installs, and
// registers the legacy reference that keeps the component for it.
#include "cli/legacy_handling.h"

#include <string>
#include <vector>

#include "cli/run_decision.h"
#include "cli/usage.h"
#include "component/component_keys.h"
#include "component/change_marker.h"
#include "component/install.h"
#include "component/install_undo.h"
#include "component/kept_files.h"
#include "component/older_node_copies.h"
#include "component/uninstall.h"
#include "component/windows_directory.h"
#include "journal/journal_steps.h"
#include "journal/run_journal.h"
#include "probe/environment_profile.h"
#include "services/legacy_sequences.h"

namespace {

// Returns false when the run must end with status 1. A preparation that
// fails has deleted nothing yet, so the services it stopped are started
// again on their old files. With an undo, the driver is saved as the older
// node runs it before anything stops, and its copies are kept aside.
bool PrepareLegacyInstall(const EnvironmentProfile& profile, Flag verbose, LegacyState* state) {
  InstallUndo* undo = state->Undo;
  JournalStep(journal_step::kStopLegacyServices);
  if (undo && !undo->CaptureDriverService()) {
    JournalNoteFailedStep();
    return false;
  }
  if (!StopLegacyServices(state->Roles, verbose)) {
    Say(verbose, "\n");
    RestartLegacyServices(state->Roles, verbose);
    return false;
  }
  Say(verbose, "\n");
  const char* windows_directory = WindowsDirectoryOrSay(verbose);
  if (windows_directory == nullptr) {
    RestartLegacyServices(state->Roles, verbose);
    return false;
  }
  JournalStep(journal_step::kDeleteOldCopies);
  // Kept-aside files an earlier run left with no install to put them back
  // are leftovers, the node's library under Program Files among them.
  const std::vector<std::string> places = OlderNodeKeptPlaces(
      KeepsLibraryUnderProgramFiles(profile), profile.ProgramFilesPath, windows_directory);
  if (undo && !undo->Mark(false, places)) {
    JournalNoteFailedStep();
    RestartLegacyServices(state->Roles, verbose);
    return false;
  }
  if (undo == nullptr) DeleteKeptLeftovers(ReadChangeMarker(), places);
  DeleteOldComponentCopies(KeepsLibraryUnderProgramFiles(profile), profile.ProgramFilesPath, windows_directory, verbose,
                           undo);
  Say(verbose, "\n");
  state->AddLegacyReference = 1;
  return true;
}

// The groups of the older installation's services the machine runs, and
// how the stop learns that a missing driver service is this tool's doing.
LegacyRoles LegacyRolesOf(const EnvironmentProfile& profile) {
  LegacyRoles roles;
  roles.ManagedNode = IsManagedNode(profile);
  roles.ManagementStation = IsManagementStation(profile);
  roles.DriverDeletedByInstall = [] { return DriverDeletedByInstall(ReadChangeMarker()); };
  return roles;
}

ReferenceMode RequestedMode(const RunOptions& options) {
  return options.Remove ? ReferenceMode::Remove : ReferenceMode::Install;
}

}  // namespace

ReferenceMode DecideReferenceMode(const RunOptions& options, const char* program_name, LegacyState* state,
                                  int* exit_status) {
  const Flag verbose = options.Verbose;
  const EnvironmentProfile profile = ProbeEnvironment();
  state->OlderNode = IsOlderNode(profile);
  state->Roles = LegacyRolesOf(profile);

  if (options.OverOlder) {
    if (verbose) {
      ConsolePrint("NNM/SE Components\n*****************\n\n");
      PrintEnvironmentReport(profile);
    }
    if (PreparesLegacyInstall(options, state->OlderNode)) {
      if (!PrepareLegacyInstall(profile, verbose, state)) {
        *exit_status = 1;
        return ReferenceMode::Exit;
      }
    }
    return RequestedMode(options);
  }

  if (RefusesOlderNode(options, state->OlderNode)) {
    if (verbose) {
      ConsolePrint("Detected older version of NNM/SE\n********************************\n\n");
      PrintEnvironmentReport(profile);
      PrintUsage(program_name);
    }
    state->Refused = 1;
    *exit_status = 1;
    return ReferenceMode::Exit;
  }
  return RequestedMode(options);
}

bool FinishLegacyInstall(const RunOptions& options, const LegacyState& state) {
  if (!state.AddLegacyReference) return false;
  // The legacy reference's pre-processor is the installed tool with "-o":
  // stored unexpanded, so it follows the Windows directory at each call.
  InstallChoice chosen;
  // After a roll-back the older node's copies and driver are back: it runs
  // on as it was, without the legacy reference.
  if (state.Undo == nullptr || !state.Undo->RollBackAttempted())
    InstallComponent(kLegacyReferenceName, kLegacyPreProcImage, options.Verbose, &chosen);
  JournalStep(journal_step::kStartLegacyServices);
  StartLegacyServices(state.Roles, options.Verbose);
  Say(options.Verbose, "\n");
  return chosen.FullInstall;
}

bool DropLegacyReference(const RunOptions& options, const LegacyState& state) {
  if (!DropsLegacyReference(options, state.OlderNode)) return false;
  // Usually there is no such reference to drop.
  JournalAbsenceExpected absence_expected;
  bool component_removal = false;
  UninstallComponent(kLegacyReferenceName, 0, nullptr, &component_removal);
  return component_removal;
}

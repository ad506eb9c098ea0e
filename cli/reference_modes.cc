// The install and remove modes: a banner, the procedure, the summary. The
// older-node handling hooks in before the choice of mode, after the install
// and after the removal.
#include "cli/reference_modes.h"

#include "cli/legacy_handling.h"
#include "component/change_marker.h"
#include "component/install.h"
#include "component/install_undo.h"
#include "component/uninstall.h"
#include "journal/run_journal.h"

namespace {

// Each mode sets only its own flag; the other stays a success, so the summary
// names exactly the phase that failed.
struct ModeResults {
  Flag InstallResult = 1;
  Flag RemoveResult = 1;
};

int FinishWithSummary(Flag own_result, const ModeResults& results, Flag verbose) {
  if (own_result) {
    Say(verbose, "No errors encountered.\n\n");
    return 0;
  }
  Say(verbose, "Encountered errors -\n");
  if (!results.InstallResult) Say(verbose, "\t* During KOTA component install.\n\n");
  if (!results.RemoveResult) Say(verbose, "\t* During KOTA component uninstall.\n\n");
  // The record names the same phases whether or not the summary is printed.
  if (!results.InstallResult) JournalAddFailedPhase("During KOTA component install.");
  if (!results.RemoveResult) JournalAddFailedPhase("During KOTA component uninstall.");
  return 1;
}

int RunInstallMode(const RunOptions& options, const LegacyState& state, ReferenceRun* run) {
  const Flag verbose = options.Verbose;
  ModeResults results;
  Say(verbose, "Installing Components\n*********************\n\n");
  InstallChoice chosen;
  results.InstallResult = InstallComponent(options.ReferenceName, options.PreProcImage, verbose, &chosen, state.Undo);
  Say(verbose, "\n");
  const bool legacy_replaced = FinishLegacyInstall(options, state);
  run->Replaced = chosen.FullInstall || legacy_replaced;
  run->RolledBack = state.Undo != nullptr && state.Undo->RolledBack();
  Say(verbose, "Install Summary\n***************\nInstall Complete: ");
  return FinishWithSummary(results.InstallResult, results, verbose);
}

int RunRemoveMode(const RunOptions& options, const LegacyState& state, ReferenceRun* run) {
  const Flag verbose = options.Verbose;
  ModeResults results;
  Say(verbose, "Removing Components\n*******************\n\n");
  // The removal's entry in the change marker stays until the legacy
  // reference is dropped too: a run killed in that drop is finished by the
  // same command run again.
  bool entry_left = false;
  bool component_removal = false;
  results.RemoveResult = UninstallComponent(options.ReferenceName, verbose, &entry_left, &component_removal);
  const bool legacy_removal = DropLegacyReference(options, state);
  if (entry_left) UnmarkRemoval(options.ReferenceName);
  run->ComponentRemoval = component_removal || legacy_removal;
  Say(verbose, "\nRemove Summary\n**************\nRemove Complete: ");
  return FinishWithSummary(results.RemoveResult, results, verbose);
}

}  // namespace

int RunReferenceModes(const RunOptions& options, const char* program_name, ReferenceRun* run, bool rollback) {
  ReferenceRun ignored;
  if (run == nullptr) run = &ignored;
  Say(options.Verbose, "\n\n");
  LegacyState state;
  // The undo lives from the older node's preparation to the end of the install.
  InstallUndo undo;
  if (rollback && !options.Remove) state.Undo = &undo;
  int exit_status = 1;
  switch (DecideReferenceMode(options, program_name, &state, &exit_status)) {
    case ReferenceMode::Install:
      exit_status = RunInstallMode(options, state, run);
      break;
    case ReferenceMode::Remove:
      exit_status = RunRemoveMode(options, state, run);
      break;
    case ReferenceMode::Exit:
      run->End = state.Refused ? RunEnd::Refused : RunEnd::Failure;
      return exit_status;
  }
  run->End = exit_status == 0 ? RunEnd::Success : RunEnd::Failure;
  return exit_status;
}

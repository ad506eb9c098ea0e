// The entry point: runs the no-op, usage and agent modes the parsed options
// ask for, and hands a valid reference request to the install and remove
// modes under the install lock.
#include "cli/command_line.h"

#include <optional>
#include <string>

#include "cli/deployment.h"
#include "cli/option_parser.h"
#include "cli/reference_modes.h"
#include "cli/run_decision.h"
#include "cli/usage.h"
#include "component/currency_check.h"
#include "journal/journal_steps.h"
#include "journal/run_journal.h"
#include "platform/install_lock.h"
#include "services/agent_sequences.h"

namespace {

// The "Version" value the component records, for the run's record; none
// when nothing is recorded. Read only when the journal is kept.
std::optional<std::string> RecordedVersion() {
  std::string version;
  if (!ReadRecordedVersion(&version)) return std::nullopt;
  return version;
}

// The install and remove modes under the install lock, and the record's
// account of them: which outcome the steps carried out amount to.
int RunLockedReferenceModes(const RunOptions& options, const char* program_name, const DeploymentSettings& settings,
                            RunEnd* end) {
  JournalSetMode(options.Remove ? RunMode::Remove : RunMode::Install);
  JournalSetReference(options.ReferenceName);
  // One install or removal at a time on the machine: taken only now, so the
  // no-op, usage and agent modes never wait for it.
  // The lock prints nothing itself: the run says once that it waits, as the
  // wait begins, and names a lock it could not take.
  const LockResult lock = TakeInstallLock(settings.LockTimeoutSeconds, [&] {
    Say(options.Verbose, "Waiting for another installation of the KOTA component to finish.\n");
  });
  if (lock != LockResult::Held)
    Say(options.Verbose, "\tERROR: Could not gain exclusive access to the KOTA component.\n");
  switch (lock) {
    case LockResult::Held:
      break;
    case LockResult::TimedOut:
      JournalSetOutcome(RunOutcome::Busy);
      *end = RunEnd::Busy;
      return 1;
    case LockResult::Failed:
      // The lock's call left its Win32 error behind; it decided the run.
      JournalCallFailed("CreateMutexA", GetLastError(), kInstallLockName);
      JournalSetOutcome(RunOutcome::Failed);
      *end = RunEnd::Failure;
      return 1;
  }
  const std::optional<std::string> before = JournalActive() ? RecordedVersion() : std::nullopt;
  ReferenceRun run;
  const int exit_status = RunReferenceModes(options, program_name, &run, settings.Rollback) == 0 ? 0 : 1;
  *end = run.End;
  if (JournalActive()) {
    const std::optional<std::string> after = RecordedVersion();
    JournalSetVersions(before ? before->c_str() : nullptr, after ? after->c_str() : nullptr);
  }
  ReleaseInstallLock();
  if (run.End == RunEnd::Refused) {
    JournalSetMode(RunMode::Refused);
    JournalSetOutcome(RunOutcome::RefusedOlderNode);
  } else if (run.End != RunEnd::Success) {
    JournalSetOutcome(run.RolledBack ? RunOutcome::RolledBack : RunOutcome::Failed);
  } else if (options.Remove) {
    JournalSetOutcome(RemovalOutcome(run.ComponentRemoval));
  } else {
    JournalSetOutcome(InstallOutcome(run.Replaced, before.has_value()));
  }
  return exit_status;
}

int RunModes(int argc, char** argv, const DeploymentSettings& settings, RunEnd* end) {
  const char* program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  RunOptions options;
  switch (ParseCommandLine(argc, argv, &options)) {
    case ParseOutcome::NoOp:
      *end = RunEnd::Success;
      return 0;
    case ParseOutcome::Usage:
      JournalSetMode(RunMode::Usage);
      JournalSetOutcome(RunOutcome::Usage);
      *end = RunEnd::Usage;
      PrintUsage(program_name);
      return 1;
    case ParseOutcome::Run:
      break;
  }
  // "-e" wins over everything else on the command line, then "-b".
  if (options.End || options.Begin) {
    const bool stop = options.End;
    JournalSetMode(stop ? RunMode::StopAgent : RunMode::StartAgent);
    JournalStep(stop ? journal_step::kStopAgent : journal_step::kStartAgent);
    Say(options.Verbose, "\n\n%s: %s\n*******************************\n\n", stop ? "Stopping" : "Starting",
        kServerAgentDisplay);
    const bool done = stop ? StopServerAgent(options.Verbose) : StartServerAgent(options.Verbose);
    JournalSetOutcome(!done ? RunOutcome::Failed : stop ? RunOutcome::AgentStopped : RunOutcome::AgentStarted);
    *end = done ? RunEnd::Success : RunEnd::Failure;
    return done ? 0 : 1;
  }
  if (!IsValidReferenceRequest(options)) {
    JournalSetMode(RunMode::Usage);
    JournalSetOutcome(RunOutcome::Usage);
    *end = RunEnd::Usage;
    PrintUsage(program_name);
    return 1;
  }
  return RunLockedReferenceModes(options, program_name, settings, end);
}

}  // namespace

int RunMevrid(int argc, char** argv) {
  const DeploymentSettings settings = ReadDeploymentSettings();
  JournalBegin(settings.Journal, argc, argv);
  JournalSetRollbackMode(settings.Rollback);
  RunEnd end = RunEnd::Failure;
  const int status = RunModes(argc, argv, settings, &end);
  const int exit_status = DeploymentExitStatus(settings, end, status, JournalRestartRequired());
  JournalFinish(exit_status);
  return exit_status;
}

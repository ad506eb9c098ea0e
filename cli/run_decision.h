// The run's decisions as pure functions of what the command line asks and
// the machine holds. The tool asks the rules one by one as it goes;
// mevrid-status --plan asks DecideRun, which composes the same rules over
// facts read beforehand, and so foretells the run's record.
#pragma once

#include <string>
#include <vector>

#include "cli/machine_facts.h"
#include "cli/run_options.h"
#include "component/change_marker.h"
#include "journal/run_outcome.h"
#include "platform/platform.h"

// An install on an older node without "-g" is refused.
bool RefusesOlderNode(const RunOptions& options, Flag older_node);
// "-g" on an older node, not removing: the legacy preparation comes first.
bool PreparesLegacyInstall(const RunOptions& options, Flag older_node);
// Once the node no longer counts as older, a removal lets go of the legacy
// reference too; removing "BROMVELD" itself needs no second pass.
bool DropsLegacyReference(const RunOptions& options, Flag older_node);
// The preparation's stop of a driver service the manager does not know is
// passed over only where this tool's own install deleted it and was
// interrupted, as its marker says.
bool DriverDeletedByInstall(const ChangeMarker& marker);
RunOutcome InstallOutcome(bool replaced, bool version_recorded_before);
RunOutcome RemovalOutcome(bool component_removal);

// Why the run goes the way it goes.
enum class DecidedBy {
  NoWindowsDirectory,
  OlderNodeWithoutG,
  OlderNodeDriverMissing,
  OlderNodeCopiesDeleted,
  NoVersion,
  VersionUnreadable,
  VersionOlder,
  FileOlder,
  DriverServiceAbsent,
  UnfinishedInstall,
  Current,
  NotRegistered,
  ReferencesUnreadable,
  OthersRemain,
  NoOtherRemains,
};

struct RunDecision {
  RunMode Mode = RunMode::Install;
  RunOutcome Outcome = RunOutcome::Failed;
  bool Changed = false;
  DecidedBy Reason = DecidedBy::Current;
  const char* FileOlder = nullptr;       // the file that decided, with FileOlder
  std::vector<std::string> NotifyEnd;    // told "-e", in order
  std::vector<std::string> NotifyBegin;  // told "-b", in order
};

// For a valid reference request (parsed and validated as the tool does).
RunDecision DecideRun(const RunOptions& options, const MachineFacts& facts);

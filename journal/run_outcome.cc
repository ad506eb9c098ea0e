#include "journal/run_outcome.h"

const char* RunModeName(RunMode mode) {
  switch (mode) {
    case RunMode::Noop: return "noop";
    case RunMode::Usage: return "usage";
    case RunMode::StopAgent: return "stop-agent";
    case RunMode::StartAgent: return "start-agent";
    case RunMode::Refused: return "refused";
    case RunMode::Install: return "install";
    case RunMode::Remove: return "remove";
  }
  return "noop";
}

const char* RunOutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Noop: return "noop";
    case RunOutcome::Usage: return "usage";
    case RunOutcome::AgentStopped: return "agent-stopped";
    case RunOutcome::AgentStarted: return "agent-started";
    case RunOutcome::RefusedOlderNode: return "refused-older-node";
    case RunOutcome::Installed: return "installed";
    case RunOutcome::Upgraded: return "upgraded";
    case RunOutcome::Registered: return "registered";
    case RunOutcome::RemovedReference: return "removed-reference";
    case RunOutcome::RemovedComponent: return "removed-component";
    case RunOutcome::Busy: return "busy";
    case RunOutcome::Failed: return "failed";
    case RunOutcome::RolledBack: return "rolled-back";
  }
  return "failed";
}

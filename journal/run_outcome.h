// The record's vocabulary of what a run was and how it ended, shared by the
// run, which records it, and the plan, which foretells it.
#pragma once

enum class RunMode { Noop, Usage, StopAgent, StartAgent, Refused, Install, Remove };

enum class RunOutcome {
  Noop,
  Usage,
  AgentStopped,
  AgentStarted,
  RefusedOlderNode,
  Installed,         // nothing was recorded before
  Upgraded,          // over a recorded version
  Registered,        // the component was current: only the reference written
  RemovedReference,  // other references remain
  RemovedComponent,  // the last reference went, and the component with it
  Busy,              // the install lock was held past the bound
  Failed,
  RolledBack,        // an install failed and put the component back as it was
};

const char* RunModeName(RunMode mode);
const char* RunOutcomeName(RunOutcome outcome);

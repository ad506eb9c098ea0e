// The tool's command line read into the run options: a leaf of cli/ that the
// tool's entry point and mevrid-status --plan both include, so the plan reads
// a command line exactly as the tool does.
#pragma once

#include "cli/run_options.h"

// The outcome of reading the arguments into the run options.
enum class ParseOutcome {
  Run,    // choose the mode from the options
  NoOp,   // "-o" was reached: end with 0, printing nothing
  Usage,  // a parse error: print the usage text, end with 1
};
ParseOutcome ParseCommandLine(int argc, char** argv, RunOptions* options);
// True when the options name a reference the install or remove modes can
// work with: a name that forms its key path, and an image unless removing.
bool IsValidReferenceRequest(const RunOptions& options);

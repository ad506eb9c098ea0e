// The status program's command line: its own long options, and for --plan
// the tool's own options, read by the tool's own parser.
#pragma once

#include <string>

#include "cli/option_parser.h"

enum class StatusMode { Report, Plan, Detect, Help };

struct StatusOptions {
  StatusMode Mode = StatusMode::Report;
  bool Json = false;
  std::string ReleaseDirectory;  // empty: the current directory
  std::string DetectName;
  // --plan: the tool's command line as the tool would read it.
  ParseOutcome ToolParse = ParseOutcome::Run;
  RunOptions Tool;
};

// false with a one-line reason in *error for arguments that make no request.
bool ParseStatusOptions(int argc, char** argv, StatusOptions* options, std::string* error);
// The text --help prints.
const char* StatusHelpText();

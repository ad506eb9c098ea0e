// The tool's entry point: parses the arguments, runs the chosen mode and
// returns the exit status (0 or 1).
#pragma once

#include "cli/run_options.h"

int RunMevrid(int argc, char** argv);
void PrintUsage(const char* program_name);

// The tool's entry point: parses the arguments, runs the chosen mode and
// returns the exit status (0 or 1).
#pragma once

int RunMevrid(int argc, char** argv);

// Placeholder until the command line is built.
#include "cli/command_line.h"
int RunMevrid(int, char**) { return 1; }

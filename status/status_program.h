// mevrid-status: the machine's state, the plan of a run, or the detection of
// one reference, read without changing anything.
#pragma once

// Returns the exit status: 0 done, 1 not in place (--detect) or no machine to
// read, 2 bad arguments.
int RunStatus(int argc, char** argv);

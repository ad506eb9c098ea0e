// The usage text, the answer to a command line the tool cannot run.
#pragma once

void PrintUsage(const char* program_name);

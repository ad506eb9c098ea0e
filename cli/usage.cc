// The usage text: the answer to every parse or validation error, printed even
// under "-q" since it replaces the work the user asked for. "-o" is for the
// tool's own use and stays unlisted.
#include "cli/usage.h"

#include "services/agent_sequences.h"

void PrintUsage(const char* program_name) {
  ConsolePrint("\nUsage : %s -k ReferenceName -p PreProcImage [-b] [-e] [-g] [-q] [-r]\n\n", program_name);
  ConsolePrint("\twhere -k = Reference name to be linked to KOTA component\n");
  ConsolePrint("\t      -p = Reference pre-processor executable image\n");
  ConsolePrint("\t      -b = Start/Begin %s\n", kServerAgentDisplay);
  ConsolePrint("\t      -e = Stop/End %s\n", kServerAgentDisplay);
  ConsolePrint("\t      -g = Install over an older version of NNM/SE\n");
  ConsolePrint("\t      -q = Do not output any messages\n");
  ConsolePrint("\t      -r = Remove KOTA component\n");
  ConsolePrint("\n");
}

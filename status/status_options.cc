#include "status/status_options.h"

#include <cstring>
#include <vector>

namespace {

bool Fail(std::string* error, const std::string& reason) {
  *error = reason;
  return false;
}

// A long option's value: the next argument, which must be there.
bool TakeValue(int argc, char** argv, int* i, std::string* value, std::string* error) {
  if (*i + 1 >= argc || argv[*i + 1][0] == '\0') return Fail(error, std::string(argv[*i]) + " needs a value");
  *value = argv[++*i];
  return true;
}

bool SetMode(StatusOptions* options, StatusMode mode, std::string* error) {
  if (options->Mode != StatusMode::Report && options->Mode != mode)
    return Fail(error, "--plan, --detect and --help go alone");
  options->Mode = mode;
  return true;
}

}  // namespace

bool ParseStatusOptions(int argc, char** argv, StatusOptions* options, std::string* error) {
  *options = StatusOptions();
  // The tool's arguments keep their order; argv[0] stands for the tool.
  std::vector<char*> tool_args = {const_cast<char*>("mevrid.exe")};
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--json") == 0) {
      options->Json = true;
    } else if (strcmp(arg, "--help") == 0) {
      if (!SetMode(options, StatusMode::Help, error)) return false;
    } else if (strcmp(arg, "--plan") == 0) {
      if (!SetMode(options, StatusMode::Plan, error)) return false;
    } else if (strcmp(arg, "--detect") == 0) {
      if (!SetMode(options, StatusMode::Detect, error) || !TakeValue(argc, argv, &i, &options->DetectName, error))
        return false;
    } else if (strcmp(arg, "--release") == 0) {
      if (!TakeValue(argc, argv, &i, &options->ReleaseDirectory, error)) return false;
    } else if (strncmp(arg, "--", 2) == 0) {
      return Fail(error, std::string("unknown option ") + arg);
    } else {
      tool_args.push_back(argv[i]);
    }
  }
  if (options->Mode != StatusMode::Plan) {
    if (tool_args.size() > 1) return Fail(error, std::string(tool_args[1]) + " is an option of --plan");
    return true;
  }
  options->ToolParse = ParseCommandLine(static_cast<int>(tool_args.size()), tool_args.data(), &options->Tool);
  // The agent modes touch neither the component nor its references.
  if (options->ToolParse == ParseOutcome::Run && (options->Tool.End || options->Tool.Begin))
    return Fail(error, "--plan covers the install and remove modes, not -e or -b");
  return true;
}

const char* StatusHelpText() {
  return "Usage: mevrid-status [--release DIR] [--json]\n"
         "       mevrid-status --plan -k NAME [-p IMAGE] [-r] [-g] [-q] [--release DIR] [--json]\n"
         "       mevrid-status --detect NAME [--release DIR]\n"
         "       mevrid-status --help\n"
         "\n"
         "Shows the KOTA component on this machine, what a run of mevrid.exe would do,\n"
         "or whether a product's reference is in place. It only reads: nothing on the\n"
         "machine is changed.\n"
         "\n"
         "  (no mode)       the component version and uninstaller, a change left in\n"
         "                  progress, every reference with its image, the driver\n"
         "                  service, the installed files, old files kept aside, the\n"
         "                  deletions pending for the next restart, and whether an\n"
         "                  install or removal holds the machine now\n"
         "  --plan          what mevrid.exe with the same -k, -p, -r, -g and -q would do:\n"
         "                  refuse (older node), install in full (and what decided it),\n"
         "                  only register, remove the reference or the component, and\n"
         "                  which references it would tell \"-e\" and \"-b\", in order;\n"
         "                  \"Rollback: on\" when MEVRID_ROLLBACK=on\n"
         "  --detect NAME   status 0 and one line when NAME is registered, the component\n"
         "                  is current and its driver service is defined; else status 1\n"
         "                  and no output\n"
         "  --release DIR   the release directory (mevrid.exe and nt_node\\) to compare\n"
         "                  the installed files with; --plan and --detect use the\n"
         "                  current directory without it, as mevrid.exe does\n"
         "  --json          one JSON document instead of text\n"
         "\n"
         "Exit status: 0 done (--detect: in place), 1 not in place or the machine\n"
         "cannot be read, 2 bad arguments.\n";
}

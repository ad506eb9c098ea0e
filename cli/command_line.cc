// The entry point: reads the arguments into the run options, runs the no-op,
// usage and agent modes, and hands a valid reference request to the install
// and remove modes.
#include "cli/command_line.h"

#include <cstring>

#include "cli/reference_modes.h"
#include "platform/install_lock.h"
#include "services/agent_sequences.h"

namespace {

bool StartsLikeOption(const char* arg) { return arg[0] == '-' || arg[0] == '/'; }

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

void UpperAscii(char* text) {
  for (; *text; ++text)
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

// Stores an option's value in its field. A value too long for the field is
// kept as no value at all, never cut, so no later step can act on a text the
// user did not type: validation then refuses it with the usage text, as it
// refuses an empty one. It is not a parse error, so it does not outrank what
// the command line asks for regardless of the value: "-o" still ends the run,
// "-e"/"-b" still run, and "-p" with "-r" is still ignored.
void StoreValue(const char* value, char (&field)[kTextBufferSize]) {
  const size_t length = strlen(value);
  if (length >= sizeof field) {
    field[0] = '\0';
    return;
  }
  memcpy(field, value, length + 1);
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, char** argv, RunOptions* options) {
  *options = RunOptions();
  if (argc < 2) return ParseOutcome::Usage;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    // Free arguments and lone characters are ignored wherever they stand.
    if (arg[0] == '\0' || arg[1] == '\0' || !StartsLikeOption(arg)) continue;
    // Only the letter counts: "-remove" is "-r".
    const char letter = FoldAscii(arg[1]);
    switch (letter) {
      case 'b': options->Begin = 1; break;
      case 'e': options->End = 1; break;
      case 'g': options->OverOlder = 1; break;
      case 'r': options->Remove = 1; break;
      case 'q': options->Verbose = 0; break;
      case 'o': return ParseOutcome::NoOp;
      case 'k':
      case 'p': {
        // A following option is not taken as the value: "-k -r" lacks a name.
        if (i + 1 >= argc || StartsLikeOption(argv[i + 1])) return ParseOutcome::Usage;
        const char* value = argv[++i];
        if (letter == 'k') {
          StoreValue(value, options->ReferenceName);
          UpperAscii(options->ReferenceName);
        } else {
          StoreValue(value, options->PreProcImage);
        }
        break;
      }
      default: return ParseOutcome::Usage;
    }
  }
  return ParseOutcome::Run;
}

// The checks on the name's content live here, not in the parser: only the
// install and remove modes turn the name into a key path, so the agent modes
// ignore it as they ignore an empty one.
bool IsValidReferenceRequest(const RunOptions& options) {
  const size_t length = strlen(options.ReferenceName);
  if (length == 0 || length > static_cast<size_t>(kMaxReferenceName)) return false;
  // A backslash would make the name a path reaching outside the References key.
  if (strchr(options.ReferenceName, '\\') != nullptr) return false;
  // With "-r" the image is not used, so it may be absent.
  return options.Remove || options.PreProcImage[0] != '\0';
}

int RunMevrid(int argc, char** argv) {
  const char* program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  RunOptions options;
  switch (ParseCommandLine(argc, argv, &options)) {
    case ParseOutcome::NoOp:
      return 0;
    case ParseOutcome::Usage:
      PrintUsage(program_name);
      return 1;
    case ParseOutcome::Run:
      break;
  }
  // "-e" wins over everything else on the command line, then "-b".
  if (options.End) {
    if (options.Verbose) ConsolePrint("\n\nStopping: %s\n*******************************\n\n", kServerAgentDisplay);
    return StopServerAgent(options.Verbose) ? 0 : 1;
  }
  if (options.Begin) {
    if (options.Verbose) ConsolePrint("\n\nStarting: %s\n*******************************\n\n", kServerAgentDisplay);
    return StartServerAgent(options.Verbose) ? 0 : 1;
  }
  if (!IsValidReferenceRequest(options)) {
    PrintUsage(program_name);
    return 1;
  }
  // One install or removal at a time on the machine: taken only now, so the
  // no-op, usage and agent modes never wait for it.
  if (!AcquireInstallLock(options.Verbose)) return 1;
  const int exit_status = RunReferenceModes(options, program_name) == 0 ? 0 : 1;
  ReleaseInstallLock();
  return exit_status;
}

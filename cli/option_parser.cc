// The tool's option parser, shared with mevrid-status --plan so that both
// read a command line alike.
#include "cli/option_parser.h"

#include <cstring>

#include "platform/ascii_case.h"

namespace {

bool StartsLikeOption(const char* arg) { return arg[0] == '-' || arg[0] == '/'; }

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
    const char letter = AsciiLower(arg[1]);
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
          UpperAsciiInPlace(options->ReferenceName);
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

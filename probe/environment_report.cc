// The environment report: what the probe found, as the older-node handling
// shows it before it refuses or prepares an install.
#include "probe/environment_profile.h"

namespace {

void PrintConsoleLine(const EnvironmentProfile& profile) {
  // "Mangement" is the established output text; it stays byte for byte.
  if (!profile.ConsolePresent) {
    ConsolePrint("Not a Mangement Station or Remote Console\n");
    return;
  }
  ConsolePrint("Console version (%s), ", profile.ConsoleVersion);
  switch (profile.ConsoleRole) {
    case ConsoleRole::Manager:
      ConsolePrint("Management Station\nOpenView Path (%s), Language Directory (%s)\n", profile.OpenViewPath,
                   profile.LanguageDirectory);
      break;
    case ConsoleRole::Console:
      ConsolePrint("Remote Console\nOpenView Path (%s), Language Directory (%s)\n", profile.OpenViewPath,
                   profile.LanguageDirectory);
      break;
    case ConsoleRole::Applications:
      ConsolePrint("Wardhaven Applications\nProgram Files Path (%s)\n", profile.ProgramFilesPath);
      break;
    default:
      ConsolePrint("Unknown\n");
      break;
  }
}

}  // namespace

void PrintEnvironmentReport(const EnvironmentProfile& profile) {
  PrintConsoleLine(profile);
  if (profile.NodePresent) {
    ConsolePrint("Managed Node version (%s)\n", profile.NodeVersion);
  } else {
    ConsolePrint("Not a Managed Node\n");
  }
  ConsolePrint("\n");
}

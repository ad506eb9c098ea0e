#include "component/notifications.h"

#include <algorithm>

#include "component/component_text.h"
#include "component/references.h"
#include "component/run_and_wait.h"
#include "journal/run_journal.h"
#include "platform/environment_text.h"
#include "platform/handles.h"
#include "platform/registry_access.h"

// The pre-processor's command line: the expanded image, the switch, and " -q"
// when quiet. false when the image is missing, too long, cannot be expanded
// or the whole line would not fit: that reference is passed over, since a cut
// command would run something other than what the product registered.
bool FormPreProcCommand(HKEY reference_key, const char* notify_switch, Flag verbose, char* command_line) {
  char image[kTextBufferSize];
  if (!QueryRegistryText(reference_key, "PreProcImage", image, sizeof image)) return false;
  char expanded[kTextBufferSize];
  if (!ExpandText(image, expanded)) return false;
  std::string command = FormatText("%s %s%s", expanded, notify_switch, verbose ? "" : " -q");
  if (!FitsTextBuffer(command)) return false;
  command.copy(command_line, command.size());
  command_line[command.size()] = '\0';
  return true;
}

namespace {

constexpr char kStartingFormat[] = "\nStarting: %s\n";

bool Names(const std::vector<std::string>& names, const char* name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// One reference told: its line, then its pre-processor run. true when the
// pre-processor was started.
bool TellReference(HKEY reference, const char* name, const char* notify_switch, const char* progress_format,
                   Flag verbose) {
  // The line names the reference before its image is looked at, so a
  // reference that is then passed over still shows up.
  Say(verbose, progress_format, name);
  char command_line[kTextBufferSize];
  if (FormPreProcCommand(reference, notify_switch, verbose, command_line)) return RunAndWait(command_line, verbose) != 0;
  JournalNote((std::string("reference ") + name + " passed over: no image that forms a command line").c_str());
  return false;
}

// Both notifications: one pre-processor at a time. started learns the
// references whose pre-processor started.
Flag NotifyAllReferences(const char* notify_switch, const char* progress_format, Flag verbose,
                         std::vector<std::string>* started = nullptr) {
  const bool walked = WalkReferences([&](HKEY reference, const char* name) {
    if (TellReference(reference, name, notify_switch, progress_format, verbose) && started) started->push_back(name);
  });
  return walked ? 1 : 0;
}

}  // namespace

Flag NotifyReferenceEnd(const char* reference_name, Flag verbose) {
  std::string key_path;
  if (!FormReferenceKeyPath(reference_name, &key_path)) return 0;
  ScopedKey reference;
  const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, reference.Receive());
  if (status != ERROR_SUCCESS) {
    JournalCallFailed("RegOpenKeyExA", static_cast<unsigned long>(status), key_path.c_str());
    return 0;
  }
  char command_line[kTextBufferSize];
  if (!FormPreProcCommand(reference.Get(), "-e", verbose, command_line)) return 0;
  // Whether the pre-processor could be started is not this caller's concern.
  RunAndWait(command_line, verbose);
  return 1;
}

Flag NotifyAllReferencesEnd(Flag verbose, std::vector<std::string>* started) {
  return NotifyAllReferences("-e", "\nStopping: %s\n", verbose, started);
}

Flag NotifyAllReferencesBegin(Flag verbose) { return NotifyAllReferences("-b", kStartingFormat, verbose); }

bool NotifyAllReferencesBeginReaching(const std::vector<std::string>& due, Flag verbose) {
  // The products are told in the order they were told "-e": the first walk
  // stops at the first one of due it could not tell (or that the walk passed
  // over), and the second tells every reference the first did not.
  std::vector<std::string> started;
  size_t next = 0;
  bool stopped = false;
  WalkReferences([&](HKEY reference, const char* name) {
    if (stopped) return;
    const bool is_due = Names(due, name);
    if (is_due && (next == due.size() || due[next] != name)) {
      stopped = true;
      return;
    }
    const bool told = TellReference(reference, name, "-b", kStartingFormat, verbose);
    if (told) started.push_back(name);
    if (is_due) {
      if (told)
        ++next;
      else
        stopped = true;
    }
  });
  if (next == due.size()) return true;
  JournalNote("products not told \"-b\" told once more");
  std::vector<std::string> again;
  WalkReferences([&](HKEY reference, const char* name) {
    if (!Names(started, name) && TellReference(reference, name, "-b", kStartingFormat, verbose))
      again.push_back(name);
  });
  for (size_t i = next; i < due.size(); ++i)
    if (!Names(again, due[i].c_str())) return false;
  return true;
}

// The journal's state for one run, and its log lines.
#include "journal/run_journal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "journal/journal_state.h"

namespace journal_internal {

State& Current() {
  static State state;
  return state;
}

}  // namespace journal_internal

using journal_internal::Current;
using journal_internal::State;

namespace {

// Names the record's variables and the kind of failure that only says a
// subject is absent.
constexpr char kRecordVariable[] = "MEVRID_RESULT_FILE";
constexpr char kLogVariable[] = "MEVRID_LOG";

bool IsAbsence(unsigned long code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_SERVICE_DOES_NOT_EXIST;
}

// One event, one line, one write: "<UTC time> mevrid[<pid>] <text>". Line
// breaks inside the text (a command line may hold one) become spaces.
void Log(const std::string& text) {
  State& state = Current();
  if (state.LogFile == nullptr) return;
  char stamp[32];
  PlatformUtcTimestamp(stamp);
  std::string line = std::string(stamp) + " mevrid[" + std::to_string(PlatformProcessId()) + "] " + text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  PlatformAppendToLog(state.LogFile, line.data(), line.size());
}

std::string Quoted(const char* text) { return std::string("\"") + (text ? text : "") + "\""; }

// Why the record may not go to path, or nullptr: it replaces only a missing
// file or one that holds an earlier record, never any other file (the
// machine's database, the install lock's file, a document).
const char* RecordTargetRefused(const char* path) {
  switch (PlatformHostFileKind(path)) {
    case HostFileKind::Missing:
      return nullptr;
    case HostFileKind::Other:
      return "it is not a regular file (a directory, a FIFO, a device or a socket)";
    case HostFileKind::Regular:
      break;
  }
  std::string head, tail;
  if (PlatformReadHostFileEnds(path, kRecordSignatureSize, &head, &tail) && IsRecordText(head, tail)) return nullptr;
  return "it holds something other than an earlier record, which is left as it is";
}

}  // namespace

JournalSettings ReadJournalSettings() {
  JournalSettings settings;
  // The runtime's getenv: the tool's own names are spelled as documented.
  const char* record = getenv(kRecordVariable);
  if (record && *record) settings.RecordPath = record;
  if (const char* log = getenv(kLogVariable); log && *log) settings.LogPath = log;
  // The record belongs to this run alone: its pre-processors, and any run
  // of the tool they start, do not see where it goes.
  if (record != nullptr) PlatformUnsetEnv(kRecordVariable);
  return settings;
}

void JournalBegin(const JournalSettings& settings, int argc, char** argv) {
  JournalReset();
  State& state = Current();
  state.Active = settings.KeepState || !settings.RecordPath.empty() || !settings.LogPath.empty();
  if (!state.Active) return;
  state.RecordPath = settings.RecordPath;
  if (!settings.LogPath.empty()) state.LogFile = PlatformOpenLog(settings.LogPath.c_str());
  if (state.LogFile == nullptr) return;
  std::string command_line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) command_line += ' ';
    if (argv[i] != nullptr) command_line += argv[i];
  }
  Log("start: command line " + Quoted(command_line.c_str()) + ", release directory " +
      Quoted(PlatformCurrentDirectory().c_str()) + ", machine " + Quoted(PlatformMachineName().c_str()) +
      (state.RecordPath.empty() ? std::string() : ", record " + Quoted(state.RecordPath.c_str())));
}

bool JournalActive() { return Current().Active; }

void JournalStep(const char* step) {
  State& state = Current();
  if (!state.Active) return;
  state.Step = step;
  Log(std::string("step ") + step);
}

void JournalChange(const char* what, const char* subject) {
  State& state = Current();
  if (!state.Active) return;
  state.Changed = true;
  Log(std::string("change: ") + what + " " + Quoted(subject));
}

void JournalCallFailed(const char* call, unsigned long code, const char* subject) {
  State& state = Current();
  if (!state.Active) return;
  const bool expected = state.AbsenceExpected > 0 && IsAbsence(code);
  if (!expected) state.Errors.push_back({state.Step, call, code, subject ? subject : ""});
  Log(std::string(state.Step) + ": " + call + " failed with " + std::to_string(code) + " " + Quoted(subject) +
      (expected ? " (nothing there, as may be)" : ""));
}

void JournalFileSetAside(const char* path, const char* moved_to) {
  State& state = Current();
  if (!state.Active) return;
  state.RestartRequired = true;
  Log(std::string("set aside ") + Quoted(path) + " as " + Quoted(moved_to) + " for deletion at the next restart");
}

void JournalServiceMarkedForDelete(const char* service) {
  State& state = Current();
  if (!state.Active) return;
  state.RestartRequired = true;
  Log(std::string("service ") + Quoted(service) + " stays marked for deletion until the next restart");
}

void JournalPreProcessor(const char* command_line, unsigned long exit_code, uint64_t waited_ms) {
  if (!Current().Active) return;
  if (exit_code == STILL_ACTIVE) {
    Log(std::string("pre-processor ") + Quoted(command_line) + " still running after " + std::to_string(waited_ms) +
        " ms, left running");
  } else {
    Log(std::string("pre-processor ") + Quoted(command_line) + " ended with exit code " + std::to_string(exit_code) +
        " after " + std::to_string(waited_ms) + " ms");
  }
}

void JournalServiceWait(const char* service, const char* wait, int polls, unsigned long last_state) {
  if (!Current().Active) return;
  Log(std::string("service ") + Quoted(service) + " " + wait + ": " + std::to_string(polls) + " polls, state " +
      std::to_string(last_state));
}

void JournalNote(const char* text) {
  if (Current().Active) Log(text);
}

JournalAbsenceExpected::JournalAbsenceExpected() { ++Current().AbsenceExpected; }
JournalAbsenceExpected::~JournalAbsenceExpected() { --Current().AbsenceExpected; }

void JournalSetMode(RunMode mode) { Current().Mode = mode; }
void JournalSetOutcome(RunOutcome outcome) { Current().Outcome = outcome; }
void JournalSetReference(const char* reference) {
  Current().Reference = reference ? std::optional<std::string>(reference) : std::nullopt;
}
void JournalSetVersions(const char* before, const char* after) {
  Current().VersionBefore = before ? std::optional<std::string>(before) : std::nullopt;
  Current().VersionAfter = after ? std::optional<std::string>(after) : std::nullopt;
}
void JournalAddFailedPhase(const char* phase) { Current().FailedPhases.push_back(phase); }
void JournalSetRollbackMode(bool on) { Current().RollbackMode = on; }
void JournalNoteFailedStep() {
  State& state = Current();
  if (!state.FailedStep) state.FailedStep = state.Step;
}
void JournalSetRollback(bool rolled_back, bool rollback_failed) {
  State& state = Current();
  state.RolledBack = rolled_back;
  state.RollbackFailed = rollback_failed;
  if (state.Active && (rolled_back || rollback_failed))
    Log(rolled_back ? "rolled back: the component is as it was before the run"
                    : "roll-back failed: the change stays marked in progress");
}
bool JournalRestartRequired() { return Current().RestartRequired; }
bool JournalChanged() { return Current().Changed; }

void JournalFinish(int exit_status) {
  State& state = Current();
  if (!state.Active) return;
  if (!state.RecordPath.empty()) {
    const std::string record = JournalRecordJson(exit_status) + "\n";
    if (const char* why = RecordTargetRefused(state.RecordPath.c_str()))
      Log("record not written to " + Quoted(state.RecordPath.c_str()) + ": " + why);
    else if (!PlatformWriteFileAtomically(state.RecordPath.c_str(), record.data(), record.size()))
      Log("record could not be written to " + Quoted(state.RecordPath.c_str()));
  }
  Log(std::string("end: mode ") + RunModeName(state.Mode) + ", outcome " + RunOutcomeName(state.Outcome) + ", changed " + (state.Changed ? "true" : "false") +
      ", restart required " + (state.RestartRequired ? "true" : "false") + ", exit status " +
      std::to_string(exit_status));
  PlatformCloseLog(state.LogFile);
  state.LogFile = nullptr;
}

void JournalReset() {
  State& state = Current();
  PlatformCloseLog(state.LogFile);
  state = State();
}

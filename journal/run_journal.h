// The run journal: what one run did, told by the logic as it goes, for the
// people who deploy the tool to many machines. It ends as a JSON record
// (MEVRID_RESULT_FILE) and as lines of a shared log (MEVRID_LOG), and it
// keeps what the deployment exit codes need (MEVRID_EXIT_CODES=msi).
//
// Off unless one of those is asked for: then every call returns at once and
// the run's output, calls and status are what they are without it. It never
// prints to the console and never changes a result.
#pragma once

#include <string>

#include "journal/run_outcome.h"
#include "platform/platform.h"

struct JournalSettings {
  std::string RecordPath;  // empty: no record
  std::string LogPath;     // empty: no log
  bool KeepState = false;  // the exit codes need the restart flag
};

// Reads MEVRID_RESULT_FILE and MEVRID_LOG once, and takes the record's
// variable out of the environment the run's children inherit: a nested run
// never writes its parent's record.
JournalSettings ReadJournalSettings();

// Starts the journal (a log line with the command line, the current
// directory as the release directory and the machine).
void JournalBegin(const JournalSettings& settings, int argc, char** argv);
bool JournalActive();

// The step under way (one of journal_steps.h); a failed call is filed
// under it.
void JournalStep(const char* step);
// A change the run made to the registry, the services or the files.
void JournalChange(const char* what, const char* subject);
// A platform call that failed, with its Win32 code and what it was about.
void JournalCallFailed(const char* call, unsigned long code, const char* subject);
// Something that is left for the next restart.
void JournalFileSetAside(const char* path, const char* moved_to);
void JournalServiceMarkedForDelete(const char* service);
// A pre-processor that ran: its exit code (STILL_ACTIVE: left running).
void JournalPreProcessor(const char* command_line, unsigned long exit_code, uint64_t waited_ms);
void JournalServiceWait(const char* service, const char* wait, int polls, unsigned long last_state);
// A line of the log only.
void JournalNote(const char* text);

// While one lives, a call answering that its subject does not exist (no
// such file, key or service) is logged but not counted as an error: the
// step only makes sure something is gone, or looks whether it is there.
class JournalAbsenceExpected {
 public:
  JournalAbsenceExpected();
  ~JournalAbsenceExpected();
  JournalAbsenceExpected(const JournalAbsenceExpected&) = delete;
  JournalAbsenceExpected& operator=(const JournalAbsenceExpected&) = delete;
};

// The run's classification, set by the entry point.
void JournalSetMode(RunMode mode);
void JournalSetOutcome(RunOutcome outcome);
void JournalSetReference(const char* reference);
void JournalSetVersions(const char* before, const char* after);  // nullptr: none recorded
void JournalAddFailedPhase(const char* phase);
// The all-or-nothing install (MEVRID_ROLLBACK=on): the record then tells the
// step that failed (the first one; the step under way when it is noted) and
// whether the component was put back, or putting it back failed.
void JournalSetRollbackMode(bool on);
void JournalNoteFailedStep();
void JournalSetRollback(bool rolled_back, bool rollback_failed);
bool JournalRestartRequired();
bool JournalChanged();

// Ends the run: the closing log line and the record, written atomically.
// A record that cannot be written is said in the log; nothing else changes.
void JournalFinish(int exit_status);

// The record as JSON text (one object, the contract's keys in order).
std::string JournalRecordJson(int exit_status);
// Whether a file whose first and last bytes (up to kRecordSignatureSize
// each) are these holds a record: it opens as every record opens, with its
// schema and mode, and ends as it ends.
constexpr size_t kRecordSignatureSize = 32;
bool IsRecordText(const std::string& head, const std::string& tail);
// Forgets everything (tests).
void JournalReset();

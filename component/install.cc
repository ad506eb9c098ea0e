#include "component/install.h"

#include <string>
#include <vector>

#include "component/change_marker.h"
#include "component/component_files.h"
#include "component/component_keys.h"
#include "component/component_text.h"
#include "component/install_undo.h"
#include "component/kept_files.h"
#include "component/notifications.h"
#include "component/references.h"
#include "component/windows_directory.h"
#include "journal/journal_steps.h"
#include "journal/run_journal.h"
#include "platform/environment_text.h"
#include "platform/handles.h"
#include "services/driver_service.h"
#include "services/service_definition.h"
#include "services/service_query.h"
#include "services/start_service.h"
#include "services/stop_service.h"

namespace {

// Copies one release file over its installed copy. The paths are formed in
// full; one too long for the tool's buffers fails the copy, naming the whole
// path, rather than being cut to a different file.
Flag CopyReleaseFile(const char* windows_directory, ComponentRole role, Flag verbose) {
  const ComponentFile& file = ComponentFileOf(role);
  std::string source = FormatText(file.ReleasePathFormat, file.FileName);
  std::string target = InstalledPathOf(role, windows_directory);
  return CopyComponentFile(source.c_str(), target.c_str(), verbose);
}

bool Failed(const char* call, LONG status) {
  JournalCallFailed(call, static_cast<unsigned long>(status), kKotaVersionKey);
  return false;
}

// The version key records what is installed and where its uninstaller lies.
// These writes are silent: the caller only learns that they failed.
bool RecordComponentVersion(const char* windows_directory) {
  char key_class[] = "REG_SZ";
  ScopedKey key;
  DWORD disposition = 0;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKotaVersionKey, 0, key_class, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                nullptr, key.Receive(), &disposition);
  if (status != ERROR_SUCCESS) return Failed("RegCreateKeyExA", status);
  std::string version = FormatText("%d.%d", kComponentVersionMajor, kComponentVersionMinor);
  status = RegSetValueExA(key.Get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.data()),
                          static_cast<DWORD>(version.size()));
  if (status != ERROR_SUCCESS) return Failed("RegSetValueExA", status);
  // The path as installed, already expanded; the copy of the tool to this
  // very path has succeeded, so it fits.
  std::string uninstaller = InstalledPathOf(ComponentRole::Tool, windows_directory);
  status = RegSetValueExA(key.Get(), "UnInstallImage", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(uninstaller.data()), static_cast<DWORD>(uninstaller.size()));
  if (status != ERROR_SUCCESS) return Failed("RegSetValueExA", status);
  JournalChange("version recorded", kKotaVersionKey);
  return true;
}

// A reference registered again is no longer being removed: a removal of it
// that an earlier run left unfinished is not finished by a later removal.
Flag RegisteredAnew(const char* reference_name, Flag registered) {
  if (registered) UnmarkRemoval(reference_name);
  return registered;
}

// Before anything is replaced, every product lets go of the component and
// the driver stops (silently: on a first install there is no driver service
// to stop). told, when given, learns the products told "-e".
void StopComponentUsers(Flag verbose, std::vector<std::string>* told = nullptr) {
  JournalStep(journal_step::kNotifyEnd);
  NotifyAllReferencesEnd(verbose, told);
  JournalAbsenceExpected absence_expected;
  JournalStep(journal_step::kStopDriver);
  StopServiceTree(kDriverServiceName, kDriverServiceDisplay, 0);
}

// With an undo, the installed file is kept aside before its copy: a rename
// refused for a file that is there is that copy failing, with its line.
bool KeepAsideForCopy(const char* windows_directory, ComponentRole role, Flag verbose, InstallUndo* undo) {
  const std::string target = InstalledPathOf(role, windows_directory);
  if (undo->KeepAside(target)) return true;
  Say(verbose, "\tERROR: Could not copy to (%s)\n", target.c_str());
  return false;
}

// The tool first, the driver last: a failed copy leaves the earlier files
// replaced and the later ones as they were; the only repair is to let the
// stopped driver run again. With an undo the roll-back repairs it instead.
Flag CopyReleaseFiles(const char* windows_directory, Flag verbose, InstallUndo* undo) {
  JournalStep(journal_step::kCopy);
  for (ComponentRole role : kCopyOrder) {
    if (undo && !KeepAsideForCopy(windows_directory, role, verbose, undo)) return 0;
    if (!CopyReleaseFile(windows_directory, role, verbose)) {
      if (undo) return 0;
      JournalAbsenceExpected absence_expected;  // a first install has no driver yet
      JournalStep(journal_step::kRestartDriver);
      StartServiceAndWait(kDriverServiceName, kDriverServiceDisplay, 0);
      return 0;
    }
  }
  return 1;
}

// The old definition goes (silently, it may not exist) and the driver is
// created anew from the installed file. A driver that does not start does
// not fail the install; started, when given, learns whether it runs.
Flag RecreateDriverService(Flag verbose, bool* started = nullptr) {
  {
    JournalAbsenceExpected absence_expected;
    JournalStep(journal_step::kRemoveDriver);
    RemoveService(kDriverServiceName, kDriverServiceDisplay, 0);
  }
  JournalStep(journal_step::kCreateDriver);
  if (!CreateDriverService(kDriverServiceName, kDriverServiceDisplay, verbose)) return 0;
  JournalStep(journal_step::kStartDriver);
  const Flag running = StartServiceAndWait(kDriverServiceName, kDriverServiceDisplay, verbose);
  if (started) *started = running != 0;
  return 1;
}

// Old files that an interrupted all-or-nothing install kept aside are not
// needed once the new component runs: a run without an undo lets them go
// too, so none outlives a successful run. The marker names them "Discard"
// before the first goes, so a kill never leaves a part of them to put back.
// true when every one is gone.
bool DiscardKeptFiles(const ChangeMarker& found, const char* windows_directory) {
  if (found.KeptAside && !MarkDiscard()) return false;
  return DeleteKeptAsideFilesOf(InstalledFilePaths(windows_directory));
}

// The full install: the products let go, the files are replaced, the version
// recorded, the driver created anew, the products told to begin again, and
// the reference registered.
Flag InstallInFull(const char* reference_name, const char* pre_proc_image, const char* windows_directory,
                   Flag verbose) {
  // Best effort: an install that cannot leave its marker still goes ahead.
  // A first install has no component key to hold it until the version is
  // recorded; what it does before that the next install redoes anyway.
  ChangeMarker found;
  const bool marked = MarkInstall(&found);
  // Kept-aside files that no install left to put back are leftovers, and
  // must not pass for originals under this run's "Install".
  if (found.KeptLeftovers() && found.KeptAside && MarkDiscard()) {
    found.KeptAside = false;
    found.Discard = true;
  }
  StopComponentUsers(verbose);
  if (!CopyReleaseFiles(windows_directory, verbose, nullptr)) return 0;
  JournalStep(journal_step::kRecordVersion);
  if (!RecordComponentVersion(windows_directory)) return 0;
  if (!marked) MarkInstall();
  if (!RecreateDriverService(verbose)) return 0;
  JournalStep(journal_step::kNotifyBegin);
  NotifyAllReferencesBegin(verbose);
  const bool kept_files = found.KeptAside || found.Discard;
  const bool all_gone = kept_files && DiscardKeptFiles(found, windows_directory);
  // Registered last, so a reference new in this run is not sent "-b".
  JournalStep(journal_step::kRegister);
  const Flag registered = RegisterReference(reference_name, pre_proc_image, verbose);
  // The kept files' entry, when there was one, goes with the install's.
  if (kept_files)
    SettleKeptFiles(all_gone, true);
  else
    UnmarkInstall();
  return RegisteredAnew(reference_name, registered) ? 1 : 0;
}

// The component goes back silently to what it was; when the products were
// told "-e", every one is told "-b" as a successful run would tell it. The
// marker stays when putting back failed, so the next run finishes the change.
void PutComponentBack(InstallUndo* undo, bool products_told_end, Flag verbose) {
  const bool restored = undo->RollBack();
  if (products_told_end) {
    JournalStep(journal_step::kNotifyBegin);
    NotifyAllReferencesBegin(verbose);
  }
  const bool unmarked = restored && undo->RestoreMarker();
  JournalSetRollback(unmarked, !unmarked);
}

// Without a full install, whatever the undo holds (the older node's copies
// kept aside by the "-g" preparation) goes back on a failure and goes for
// good on a success.
Flag SettleUndo(Flag result, InstallUndo* undo, Flag verbose) {
  if (undo == nullptr) return result;
  if (!result) JournalNoteFailedStep();
  if (!undo->HoldsChanges()) return result;
  if (result) {
    SettleKeptFiles(undo->Discard(), false);
  } else {
    PutComponentBack(undo, false, verbose);
  }
  return result;
}

// A failed step of the all-or-nothing install, whose own lines are printed.
Flag RollBackInstall(InstallUndo* undo, Flag verbose) {
  JournalNoteFailedStep();
  PutComponentBack(undo, true, verbose);
  return 0;
}

// The full install with an undo: what it would change is saved and marked
// first, the old files are kept aside rather than overwritten, and a failure
// up to the new driver's start puts everything back. The point of no return
// is the products told "-b": then the old files go, and a failure to
// register fails the run with the new component in place.
Flag InstallAllOrNothing(const char* reference_name, const char* pre_proc_image, const char* windows_directory,
                         Flag verbose, InstallUndo* undo) {
  // Nothing changes until the undo knows what to put back.
  if (!undo->CaptureDriverService() || !undo->CaptureVersionKey() ||
      !undo->Mark(true, InstalledFilePaths(windows_directory)))
    return SettleUndo(0, undo, verbose);
  std::vector<std::string> told_end;
  StopComponentUsers(verbose, &told_end);
  if (!CopyReleaseFiles(windows_directory, verbose, undo)) return RollBackInstall(undo, verbose);
  JournalStep(journal_step::kRecordVersion);
  if (!RecordComponentVersion(windows_directory)) return RollBackInstall(undo, verbose);
  bool started = false;
  if (!RecreateDriverService(verbose, &started)) return RollBackInstall(undo, verbose);
  // A new driver the system refuses where the old one ran would cut every
  // product off from it.
  if (!started && undo->DriverRanBefore()) return RollBackInstall(undo, verbose);
  // Every product told "-e" must be told "-b" before the old files go. One
  // that cannot be told fails the run with the new component in place and
  // "Install" kept, so the next run tells every product.
  JournalStep(journal_step::kNotifyBegin);
  if (!NotifyAllReferencesBeginReaching(told_end, verbose)) {
    JournalNoteFailedStep();
    return 0;
  }
  const bool all_gone = undo->Discard();
  JournalStep(journal_step::kRegister);
  const Flag registered = RegisterReference(reference_name, pre_proc_image, verbose);
  if (!registered) JournalNoteFailedStep();
  // The install's entries go by one write: the change is complete.
  SettleKeptFiles(all_gone, true);
  return RegisteredAnew(reference_name, registered) ? 1 : 0;
}

}  // namespace

InstallChoice DecideInstall(const InstallFacts& facts) {
  // Current files and version do not make a current component when the
  // manager says the driver service does not exist and the version recorded
  // is this tool's own: an install that failed between deleting the old
  // service and creating the new one has recorded it already, and
  // registering a reference alone would report success without a driver.
  // Only a full install brings the service back. A higher version was
  // recorded by a newer installer, whose files must never be replaced by
  // older ones, and a service that cannot be asked about is left alone. An
  // install that an earlier run left unfinished (products told "-e" and never
  // "-b") is finished by a full install even when everything looks current;
  // a removal's marker is the removal's own (a product's pre-processor may
  // install while that removal waits for it). A driver that is merely
  // stopped is left so: it starts at the next restart, and retrying a
  // driver's failed load is not a registration's to decide.
  InstallChoice choice;
  choice.Currency = facts.Currency;
  if (facts.Currency.InstallNeeded) return choice;
  if (facts.UnfinishedInstall) {
    choice.UnfinishedInstall = true;
    return choice;
  }
  if (facts.Currency.ThisVersionRecorded && facts.Driver == ServicePresence::Absent) {
    choice.DriverServiceAbsent = true;
    return choice;
  }
  choice.FullInstall = false;
  return choice;
}

InstallFacts ReadInstallFacts(const char* windows_directory, Flag verbose) {
  InstallFacts facts;
  facts.Currency = CheckComponentCurrency(windows_directory, verbose);
  if (facts.Currency.InstallNeeded) return facts;
  facts.Marker = ReadChangeMarker();
  facts.UnfinishedInstall = facts.Marker.Install;
  if (facts.UnfinishedInstall || !facts.Currency.ThisVersionRecorded) return facts;
  facts.Driver = QueryServicePresence(kDriverServiceName);
  return facts;
}

InstallChoice ChooseInstall(const char* windows_directory, Flag verbose) {
  return DecideInstall(ReadInstallFacts(windows_directory, verbose));
}

Flag InstallComponent(const char* reference_name, const char* pre_proc_image, Flag verbose, InstallChoice* chosen,
                      InstallUndo* undo) {
  // Until the choice is made, nothing is being replaced.
  if (chosen) chosen->FullInstall = false;
  const char* windows_directory = WindowsDirectoryOrSay(verbose);
  if (windows_directory == nullptr) return SettleUndo(0, undo, verbose);
  // A name whose key path cannot be formed could never be registered: refuse
  // it with the registration's own message before any product is told to let
  // go of the driver or any file is replaced for it.
  std::string key_path;
  JournalStep(journal_step::kCheck);
  if (!FormReferenceKeyPath(reference_name, &key_path)) {
    JournalStep(journal_step::kRegister);
    return SettleUndo(RegisterReference(reference_name, pre_proc_image, verbose), undo, verbose);
  }
  const InstallFacts facts = ReadInstallFacts(windows_directory, verbose);
  const InstallChoice choice = DecideInstall(facts);
  if (chosen) *chosen = choice;
  if (choice.FullInstall) {
    if (undo) return InstallAllOrNothing(reference_name, pre_proc_image, windows_directory, verbose, undo);
    return InstallInFull(reference_name, pre_proc_image, windows_directory, verbose);
  }
  // Only the reference: no product is told and no service is touched.
  // Kept-aside leftovers an earlier run named go now (what an undo holds
  // goes with it).
  if (undo == nullptr || !undo->HoldsChanges())
    DeleteKeptLeftovers(facts.Marker, InstalledFilePaths(windows_directory));
  JournalStep(journal_step::kRegister);
  return SettleUndo(RegisteredAnew(reference_name, RegisterReference(reference_name, pre_proc_image, verbose)), undo,
                    verbose);
}

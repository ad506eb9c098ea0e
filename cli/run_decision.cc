#include "cli/run_decision.h"

#include <algorithm>
#include <cstring>

#include "component/component_keys.h"
#include "platform/ascii_case.h"

bool RefusesOlderNode(const RunOptions& options, Flag older_node) {
  return older_node && !options.OverOlder && !options.Remove;
}

bool PreparesLegacyInstall(const RunOptions& options, Flag older_node) {
  return older_node && options.OverOlder && !options.Remove;
}

bool DropsLegacyReference(const RunOptions& options, Flag older_node) {
  return !older_node && std::strcmp(options.ReferenceName, kLegacyReferenceName) != 0;
}

bool DriverDeletedByInstall(const ChangeMarker& marker) { return marker.Install; }

RunOutcome InstallOutcome(bool replaced, bool version_recorded_before) {
  if (!replaced) return RunOutcome::Registered;
  return version_recorded_before ? RunOutcome::Upgraded : RunOutcome::Installed;
}

RunOutcome RemovalOutcome(bool component_removal) {
  return component_removal ? RunOutcome::RemovedComponent : RunOutcome::RemovedReference;
}

namespace {

bool SameName(const std::string& a, const char* b) { return EqualsIgnoringAsciiCase(a.c_str(), b); }

const ReferenceFacts* Find(const MachineFacts& facts, const char* name) {
  for (const ReferenceFacts& reference : facts.References)
    if (SameName(reference.Name, name)) return &reference;
  return nullptr;
}

void Forget(MachineFacts* facts, const char* name) {
  auto& list = facts->References;
  list.erase(std::remove_if(list.begin(), list.end(), [&](const ReferenceFacts& r) { return SameName(r.Name, name); }),
             list.end());
}

// One removal, as the uninstall goes, over the facts it changes as it goes:
// whether it succeeds, what it changes, whom it tells, and whether the
// component's removal begins.
struct Removal {
  bool Result = true;
  bool ComponentRemoval = false;
  bool Unreadable = false;  // the references could not be counted
};

// A file step: a file there is deleted (a change); a missing one fails the
// step unless a removal being finished passes over it.
bool DeleteStep(bool* present, bool finishing, bool* changed) {
  const bool was_there = *present;
  *present = false;
  if (was_there) *changed = true;
  return was_there || finishing;
}

void RemoveComponent(bool finishing, MachineFacts* facts, bool* changed, Removal* removal) {
  removal->ComponentRemoval = true;
  bool& result = removal->Result;
  if (facts->ReferencesKeyPresent) *changed = true;
  facts->ReferencesKeyPresent = false;
  // The stop: a running driver is asked to stop (a change), a stopped one
  // needs no request, one the manager does not know fails it unless a
  // removal being finished passes over it. A service marked for deletion
  // goes once it is stopped, so its removal then finds it gone.
  ServicePresence& driver = facts->Install.Driver;
  const bool there = driver == ServicePresence::Running || driver == ServicePresence::NotRunning;
  if (driver == ServicePresence::Running) *changed = true;
  if (!there && !(finishing && driver == ServicePresence::Absent)) result = false;
  if (there && facts->DriverMarkedForDelete) driver = ServicePresence::Absent;
  const bool deleted_now = driver == ServicePresence::Running || driver == ServicePresence::NotRunning;
  if (deleted_now) *changed = true;
  if (!deleted_now && !(finishing && driver == ServicePresence::Absent)) result = false;
  driver = ServicePresence::Absent;
  facts->DriverMarkedForDelete = false;
  if (!DeleteStep(&facts->DriverFilePresent, finishing, changed)) result = false;
  if (!DeleteStep(&facts->LibraryFilePresent, finishing, changed)) result = false;
  bool copy_left = false;
  if (!facts->VersionKeyPresent) {
    copy_left = !finishing;
    if (copy_left) result = false;
  } else if (!facts->UninstallerReadable) {
    result = false;
    return;  // the keys stay, so the uninstaller can still be found
  } else if (!DeleteStep(&facts->UninstallerPresent, finishing, changed)) {
    result = false;
    copy_left = true;
  }
  // Every other part of the component went above: only a copy left keeps
  // the keys (and the marker in them) for the same removal again.
  if (copy_left) return;
  if (facts->VersionKeyPresent || facts->ComponentKeyPresent) *changed = true;
  facts->VersionKeyPresent = facts->ComponentKeyPresent = false;
  facts->Marker = ChangeMarker();
}

Removal Remove(const char* name, Flag verbose, MachineFacts* facts, bool* changed, std::vector<std::string>* told) {
  Removal removal;
  std::vector<std::string>& entries = facts->Marker.Removals;
  const bool finishing = facts->Marker.HasRemovalOf(name);
  // This removal's entry in the marker, where a component key holds it.
  const bool marked = !finishing && facts->ComponentKeyPresent;
  if (marked) entries.push_back(name);
  auto unmark = [&] { entries.erase(std::remove(entries.begin(), entries.end(), name), entries.end()); };
  const ReferenceFacts* reference = Find(*facts, name);
  if (reference && (verbose ? reference->TellsEnd : reference->TellsEndQuiet)) told->push_back(name);
  if (!reference && !finishing) {
    if (marked) unmark();
    removal.Result = false;
    return removal;
  }
  if (reference) *changed = true;
  Forget(facts, name);
  if (!facts->WalkComplete) {
    removal.Result = false;
    removal.Unreadable = true;
    return removal;
  }
  if (!facts->References.empty()) {
    unmark();
    return removal;
  }
  RemoveComponent(finishing, facts, changed, &removal);
  return removal;
}

DecidedBy CurrencyReason(const InstallChoice& choice) {
  switch (choice.Currency.Row) {
    case CurrencyRow::NoVersion: return DecidedBy::NoVersion;
    case CurrencyRow::VersionUnreadable: return DecidedBy::VersionUnreadable;
    case CurrencyRow::VersionOlder: return DecidedBy::VersionOlder;
    case CurrencyRow::FileOlder: return DecidedBy::FileOlder;
    case CurrencyRow::Current: break;
  }
  if (choice.DriverServiceAbsent) return DecidedBy::DriverServiceAbsent;
  if (choice.UnfinishedInstall) return DecidedBy::UnfinishedInstall;
  return DecidedBy::Current;
}

void DecideInstallRun(const RunOptions& options, const MachineFacts& facts, RunDecision* decision) {
  decision->Mode = RunMode::Install;
  const bool legacy = PreparesLegacyInstall(options, facts.OlderNode);
  if (legacy) {
    // The preparation stops the older installation's services (and starts
    // them again when it fails), so it changes the machine either way.
    const bool driver_stops = facts.Install.Driver == ServicePresence::Running ||
                              facts.Install.Driver == ServicePresence::NotRunning ||
                              (facts.Install.Driver == ServicePresence::Absent &&
                               DriverDeletedByInstall(facts.Marker));
    decision->Changed = facts.LegacyServices || facts.Install.Driver == ServicePresence::Running;
    if (!driver_stops) {
      decision->Reason = DecidedBy::OlderNodeDriverMissing;
      return;
    }
  }
  if (!facts.WindowsDirectoryKnown) {
    decision->Reason = DecidedBy::NoWindowsDirectory;
    return;
  }
  const InstallChoice choice = DecideInstall(facts.Install);
  decision->Reason = CurrencyReason(choice);
  if (choice.Currency.Row == CurrencyRow::FileOlder && choice.Currency.File)
    decision->FileOlder = choice.Currency.File->FileName;
  // The preparation deletes the node's copy of the driver before the
  // install looks: the install then finds it missing and goes ahead in full.
  const bool full = choice.FullInstall || legacy;
  if (legacy && !choice.FullInstall) decision->Reason = DecidedBy::OlderNodeCopiesDeleted;
  if (!full) {
    decision->Outcome = RunOutcome::Registered;
    decision->Changed = decision->Changed || !facts.CallerHoldsImage;
    return;
  }
  decision->Outcome = InstallOutcome(true, facts.VersionRecorded);
  decision->Changed = true;
  // The walks come before the new reference is written: a product new in
  // this run is told neither.
  for (const ReferenceFacts& reference : facts.References) {
    if (reference.TellsEnd) decision->NotifyEnd.push_back(reference.Name);
    if (reference.TellsBegin) decision->NotifyBegin.push_back(reference.Name);
  }
}

void DecideRemoveRun(const RunOptions& options, const MachineFacts& facts, RunDecision* decision) {
  decision->Mode = RunMode::Remove;
  if (!facts.WindowsDirectoryKnown) {
    decision->Reason = DecidedBy::NoWindowsDirectory;
    return;
  }
  MachineFacts machine = facts;
  bool changed = false;
  const Removal own = Remove(options.ReferenceName, options.Verbose, &machine, &changed, &decision->NotifyEnd);
  bool component_removal = own.ComponentRemoval;
  if (DropsLegacyReference(options, facts.OlderNode)) {
    const Removal legacy = Remove(kLegacyReferenceName, 0, &machine, &changed, &decision->NotifyEnd);
    component_removal = component_removal || legacy.ComponentRemoval;
  }
  decision->Changed = changed;
  decision->Reason = own.Unreadable                ? DecidedBy::ReferencesUnreadable
                     : !own.Result && !own.ComponentRemoval ? DecidedBy::NotRegistered
                     : component_removal          ? DecidedBy::NoOtherRemains
                                                  : DecidedBy::OthersRemain;
  decision->Outcome = own.Result ? RemovalOutcome(component_removal) : RunOutcome::Failed;
}

}  // namespace

RunDecision DecideRun(const RunOptions& options, const MachineFacts& facts) {
  RunDecision decision;
  if (RefusesOlderNode(options, facts.OlderNode)) {
    decision.Mode = RunMode::Refused;
    decision.Outcome = RunOutcome::RefusedOlderNode;
    decision.Reason = DecidedBy::OlderNodeWithoutG;
    return decision;
  }
  if (options.Remove)
    DecideRemoveRun(options, facts, &decision);
  else
    DecideInstallRun(options, facts, &decision);
  return decision;
}

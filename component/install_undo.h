// The undo record of an all-or-nothing install (MEVRID_ROLLBACK=on): what
// the component was before the run (the driver service, the version key, the
// old files kept aside by renaming), so that a failed install can put all of
// it back and a successful one can let the old files go. Held by the install
// mode and handed down; without it the install is what it always was.
#pragma once

#include <string>
#include <vector>

#include "component/change_marker.h"
#include "platform/platform.h"
#include "services/saved_service.h"

// A registry value as it was: its type and bytes, or its absence.
struct SavedValue {
  bool Present = false;
  DWORD Type = REG_NONE;
  std::string Bytes;
};

class InstallUndo {
 public:
  // The driver service before the run. Asked once, at the earliest moment
  // (before "-g" stops the older node's services, else at the start of the
  // full install); later calls keep the first answer. false when the manager
  // could not be asked: then nothing may change.
  bool CaptureDriverService();
  // The component key's and the version key's presence, and the values
  // "Version" and "UnInstallImage". Once, as above.
  bool CaptureVersionKey();
  // Writes the marker's "KeptAside" entry (and "Install" when install),
  // creating the component key when it is absent (the roll-back deletes it
  // again). The first call learns whether an interrupted install left
  // kept-aside files ("KeptAside" with "Install"), which this run then adopts
  // as the originals; those the marker names as leftovers ("Discard", or no
  // install to put them back) are deleted first, at every one of places.
  // Silent; false when the marker could not be written: then nothing may
  // change.
  bool Mark(bool install, const std::vector<std::string>& places);
  // Renames path to its kept-aside name. A kept-aside file already there
  // that an interrupted install left (the marker said so) holds the older
  // original: it is kept and the file at path is left to be overwritten; one
  // that nothing accounts for is deleted first. A missing file is remembered as absent
  // (the roll-back deletes what this run put there). false only when the
  // rename failed for a file that exists (held open without delete sharing).
  bool KeepAside(const std::string& path);
  // Puts back everything, silently: stops the driver service if present;
  // the files (kept-aside ones renamed back over, files that were absent
  // deleted); the version key's values (or their absence; a version key this
  // run created deleted); the driver service (deleted when absent before,
  // else made again with its old definition when missing or different, and
  // started when it ran before); last the component key when this run created
  // it. false when any of it failed.
  bool RollBack();
  // After a successful roll-back: the marker's entries are as they were
  // before the run (its "KeptAside" and a new "Install" go, by one write).
  // false when they could not be taken out: the roll-back then counts as
  // failed, and the next run finishes the change.
  bool RestoreMarker();
  // After the point of no return: the marker's "KeptAside" becomes
  // "Discard" (one write) before the kept-aside files are deleted, so a kill
  // never leaves a part of them to put back; one in use is left to the
  // restart. true when every kept-aside file (leftovers too) is gone; the
  // caller's last write takes the entry out (SettleKeptFiles).
  bool Discard();

  bool DriverRanBefore() const { return driver_.Running; }
  const SavedService& DriverBefore() const { return driver_; }
  // Whether RollBack was called, and how it ended.
  bool RollBackAttempted() const { return attempted_; }
  bool RolledBack() const { return attempted_ && restored_; }
  // Whether anything may have changed: the marker written or a file kept.
  bool HoldsChanges() const { return marked_ || !kept_.empty(); }

 private:
  struct KeptFile {
    std::string Path;
    bool Existed = false;  // the kept-aside name holds the original
  };

  bool RestoreFiles();
  bool RestoreVersionKey();

  bool driver_captured_ = false;
  SavedService driver_;
  bool keys_captured_ = false;
  bool component_key_present_ = false;
  bool version_key_present_ = false;
  SavedValue version_;
  SavedValue uninstaller_;
  bool marked_ = false;
  bool component_key_created_ = false;
  bool component_key_deleted_ = false;
  bool leftovers_gone_ = true;
  ChangeMarker marker_before_;
  std::vector<KeptFile> kept_;
  bool attempted_ = false;
  bool restored_ = false;
};

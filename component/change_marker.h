// The marker of a change in progress: written to the component key before an
// install or a removal changes anything and taken out after its last change,
// so a run that was killed or failed half-way is known to the next one,
// which then carries out the whole procedure again.
//
// Several changes can be left unfinished at once (a removal that could not
// count the references, then another product's removal that failed
// part-way, with an install interrupted in between): the marker holds one
// entry for each, so every one of them is finished by its own command run
// again. The value is one text, its entries "Install" and "Remove NAME"
// separated by backslashes, which no reference name holds; a single entry
// reads as it always did. An install that keeps the old files aside, to put
// them back should it fail, adds "KeptAside" while they may lie there; past
// its point of no return the entry becomes "Discard" before the first of them
// is deleted, so files it names are leftovers, never originals to put back.
#pragma once

#include <string>
#include <vector>

struct ChangeMarker {
  bool Install = false;               // an install left unfinished
  bool KeptAside = false;             // old files may lie kept aside next to the installed ones
  bool Discard = false;               // kept-aside files may lie there as leftovers to delete
  std::vector<std::string> Removals;  // references whose removal was left unfinished, oldest first

  bool Empty() const { return !Install && !KeptAside && !Discard && Removals.empty(); }
  // Kept-aside files an interrupted install left to put back, should the
  // install that finishes it fail: "KeptAside" with its "Install".
  bool KeptOriginals() const { return Install && KeptAside; }
  // Kept-aside files that no install will put back: delete them. "Discard"
  // names leftovers whatever else the marker holds.
  bool KeptLeftovers() const { return Discard || (KeptAside && !Install); }
  bool HasRemovalOf(const std::string& reference_name) const;
};

// The marker's text and back; an entry of neither kind is dropped.
std::string ChangeMarkerText(const ChangeMarker& marker);
ChangeMarker ParseChangeMarker(const std::string& text);

// The marker as a run finds it; a value that cannot be read is empty.
ChangeMarker ReadChangeMarker();

// Each adds or takes out one entry and leaves the others as they are. The
// marker lives in an existing component key, which is never created for it.
// Silent; the Mark calls answer false when the entry could not be written.
// found, when given, learns the marker as it was before the entry went in.
bool MarkInstall(ChangeMarker* found = nullptr);
void UnmarkInstall();
// With install_too, "Install" goes in (or out) by the same write.
bool MarkKeptAside(ChangeMarker* found = nullptr, bool install_too = false);
bool UnmarkKeptAside(bool install_too = false);
// "KeptAside" becomes "Discard", by one write, tried once more should it
// fail: until it is written no kept-aside file may go.
bool MarkDiscard();
// After the kept-aside files were deleted: "KeptAside" goes, "Discard" stays
// only to name files left to the restart (all_gone false), and with
// install_too "Install" goes; one write.
bool SettleKeptFiles(bool all_gone, bool install_too);
bool MarkRemoval(const char* reference_name);
void UnmarkRemoval(const char* reference_name);
// Removes the whole marker; the component key itself stays.
void ClearChangeMarker();

// The marker of a change in progress: written to the component key before an
// install or a removal changes anything and removed after its last change,
// so a run that was killed or failed half-way is known to the next one,
// which then carries out the whole procedure again.
#pragma once

#include <string>

enum class ChangeKind { None, Install, Remove };

struct ChangeMarker {
  ChangeKind Kind = ChangeKind::None;
  std::string Reference;  // a removal's reference name
};

// The marker as a run finds it; a value that cannot be read is None.
ChangeMarker ReadChangeMarker();
// Writes the marker ("Install", or "Remove " and the reference name) into an
// existing component key: it is never created for the marker. Silent; false
// when it could not be written.
bool WriteChangeMarker(ChangeKind kind, const char* reference_name = "");
// Removes the marker; the component key itself stays.
void ClearChangeMarker();

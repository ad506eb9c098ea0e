#pragma once

#include "component/change_marker.h"
#include "platform/platform.h"

// Whether a removal of this reference finishes one an earlier run left
// unfinished, as the marker it finds says: the run and the plan both ask it.
bool FinishesRemoval(const ChangeMarker& found, const char* reference_name);

// Drops the reference and, with the last one, the component.
// component_removal, when given, learns whether no reference was left and
// the removal of the component itself began.
Flag UninstallComponent(const char* reference_name, Flag verbose, bool* component_removal = nullptr);

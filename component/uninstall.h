// The remove mode's work on the component: the reference goes, and with the
// last one the component itself (its driver service, files, uninstaller
// copy and keys). A removal that leaves part of the component behind keeps
// what lets the same command finish it.
#pragma once

#include "component/change_marker.h"
#include "platform/platform.h"

// Drops the reference and, with the last one, the component. A removal that
// leaves other references takes its entry out of the change marker at its
// end, unless the caller still has work to do under it (the drop of the
// legacy reference that follows a product's removal) and asks with
// entry_left_to_caller: the entry then stays, *entry_left_to_caller is set,
// and the caller takes it out once that work is done, so a run killed in it
// is finished by the same command run again. Every other end keeps or drops
// the entry itself. component_removal, when given, learns whether no
// reference was left and the removal of the component itself began.
Flag UninstallComponent(const char* reference_name, Flag verbose, bool* entry_left_to_caller = nullptr,
                        bool* component_removal = nullptr);

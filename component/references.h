// The reference registry: one subkey of the References key per product, and
// the notification of each product's pre-processor with "-e" or "-b".
#pragma once

#include <functional>

#include "platform/platform.h"

Flag RegisterReference(const char* reference_name, const char* pre_proc_image, Flag verbose);
Flag DeleteReference(const char* reference_name, Flag verbose);
Flag NotifyReferenceEnd(const char* reference_name, Flag verbose);
Flag NotifyAllReferencesEnd(Flag verbose);
Flag NotifyAllReferencesBegin(Flag verbose);
Flag RunAndWait(const char* command_line, Flag verbose);

// The walk of both notifications, which the read-only status program shares:
// every reference in the registry's order of enumeration whose subkey opens,
// visited with its open key and name. 1 when the walk reached the end (no
// References key is such an end), 0 when the enumeration failed.
Flag WalkReferences(const std::function<void(HKEY reference_key, const char* name)>& visit);
// The pre-processor's command line of a reference for the switch: false when
// it cannot be formed whole, and that reference is passed over.
bool FormPreProcCommand(HKEY reference_key, const char* notify_switch, Flag verbose, char* command_line);

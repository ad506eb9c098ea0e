// The notification of the products: each reference's pre-processor run with
// "-e" before the component changes and with "-b" after.
#pragma once

#include "platform/platform.h"

Flag NotifyReferenceEnd(const char* reference_name, Flag verbose);
Flag NotifyAllReferencesEnd(Flag verbose);
Flag NotifyAllReferencesBegin(Flag verbose);

// The pre-processor's command line of a reference for the switch: false when
// it cannot be formed whole, and that reference is passed over.
bool FormPreProcCommand(HKEY reference_key, const char* notify_switch, Flag verbose, char* command_line);

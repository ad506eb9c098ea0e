// The notification of the products: each reference's pre-processor run with
// "-e" before the component changes and with "-b" after.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

Flag NotifyReferenceEnd(const char* reference_name, Flag verbose);
// started, when given, learns the references whose pre-processor was
// started, in the walk's order.
Flag NotifyAllReferencesEnd(Flag verbose, std::vector<std::string>* started = nullptr);
Flag NotifyAllReferencesBegin(Flag verbose);
// "-b" to every reference, then, for the references of due it did not
// reach (a walk broken off, an image that could not be read, a pre-processor
// that could not be started), one walk more that tells only those. true when
// every reference of due was told.
bool NotifyAllReferencesBeginReaching(const std::vector<std::string>& due, Flag verbose);

// The pre-processor's command line of a reference for the switch: false when
// it cannot be formed whole, and that reference is passed over.
bool FormPreProcCommand(HKEY reference_key, const char* notify_switch, Flag verbose, char* command_line);

// The reference registry: one subkey of the References key per product, and
// the notification of each product's pre-processor with "-e" or "-b".
#pragma once

#include "platform/platform.h"

Flag RegisterReference(const char* reference_name, const char* pre_proc_image, Flag verbose);
Flag DeleteReference(const char* reference_name, Flag verbose);
Flag NotifyReferenceEnd(const char* reference_name, Flag verbose);
Flag NotifyAllReferencesEnd(Flag verbose);
Flag NotifyAllReferencesBegin(Flag verbose);
Flag RunAndWait(const char* command_line, Flag verbose);

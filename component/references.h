// The reference registry: one subkey of the References key per product,
// holding the command line of its pre-processor.
#pragma once

#include <functional>

#include "platform/platform.h"

Flag RegisterReference(const char* reference_name, const char* pre_proc_image, Flag verbose);
Flag DeleteReference(const char* reference_name, Flag verbose);
// Whether a registration of this image would leave the reference as it is:
// registered with exactly that image, stored as the tool stores it. Reads only.
bool ReferenceHoldsImage(const char* reference_name, const char* pre_proc_image);

// The walk of both notifications, which the read-only status program shares:
// every reference in the registry's order of enumeration whose subkey opens,
// visited with its open key and name. True when the walk reached the end (no
// References key is such an end), false when the enumeration failed.
bool WalkReferences(const std::function<void(HKEY reference_key, const char* name)>& visit);

#pragma once

#include "platform/platform.h"

// When a removal that succeeded takes its entry out of the change marker: at
// its end, or later by its caller, which still has work to do under it (the
// drop of the legacy reference that follows a product's removal), so a run
// killed in that work is finished by the same command run again.
enum class MarkRelease { AtEnd, ByCaller };

// Drops the reference and, with the last one, the component.
Flag UninstallComponent(const char* reference_name, Flag verbose, MarkRelease release = MarkRelease::AtEnd);

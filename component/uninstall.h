#pragma once

#include "platform/platform.h"

// Drops the reference and, with the last one, the component.
Flag UninstallComponent(const char* reference_name, Flag verbose);

#pragma once

#include "platform/platform.h"

// Brings the component to version 4.0 when needed and registers the reference.
Flag InstallComponent(const char* reference_name, const char* pre_proc_image, Flag verbose);

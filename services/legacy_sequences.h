// The services of an older managed-node installation, stopped before and
// started after an install over it.
#pragma once

#include "platform/platform.h"

Flag StopLegacyServices(Flag verbose);
Flag StartLegacyServices(Flag verbose);
// Brings back what a failed preparation stopped: the driver, then as
// StartLegacyServices.
Flag RestartLegacyServices(Flag verbose);

// The fixed stop and start sequences of the suite's server agent and node agents.
#pragma once

#include "platform/platform.h"

extern const char kServerAgentService[];  // "brunol32"
extern const char kServerAgentDisplay[];  // "Kelm Wardhaven Server Agent"

Flag StopServerAgent(Flag verbose);
Flag StartServerAgent(Flag verbose);
Flag StopNodeAgents(Flag verbose);
Flag StartNodeAgents(Flag verbose);

// The machine's state as text for people and as one JSON document.
#pragma once

#include <string>

#include "status/machine_state.h"

std::string StateText(const MachineState& state);
std::string StateJson(const MachineState& state);
// A FILETIME as UTC: "2026-12-09T13:26:27Z".
std::string FileTimeText(const FILETIME& time);

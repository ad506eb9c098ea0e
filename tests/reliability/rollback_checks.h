// What the all-or-nothing install (MEVRID_ROLLBACK=on) promises, judged from
// outside on the states a run leaves: the component's three files are never
// a mixed set once a run is over, no old file stays kept aside, a kill never
// loses an old file before the new set is whole, and every product told to
// let go of the driver ("-e") is told to take it up again ("-b") after it.
#pragma once

#include <string>
#include <vector>

#include "tests/reliability/reliability_support.h"

namespace reliability {

// An old file kept aside is its path with this appended, in its folder.
inline constexpr char kKeptAsideSuffix[] = ".mevrid-kept";

// Whether the component's three files of `state` are those of `other`
// (each present or absent alike, with the same bytes, size and time).
bool AllAs(const EndState& state, const EndState& other);

// What is wrong with the component's files in `state`, one line each (none
// when all is well): a mixed set (each of the three files must be as in
// `before`, or each as in `after`: bytes, size and time), and every
// kept-aside file left anywhere on the drive.
std::vector<std::string> ComponentSetProblems(const EndState& state, const EndState& before, const EndState& after);

// What a kill may leave: the new set whole, or every old file still there,
// at its path or kept aside beside it, so that either run that follows (one
// that completes, one that restores) has what it needs. One line per old
// file that is gone.
std::vector<std::string> OldFilesLost(const EndState& state, const EndState& before, const EndState& after);

// The component of a state: its keys without the references and the change
// marker, its three files and every file kept aside, the services without
// their states (but the driver's where it ran before the run: a new driver
// that will not start where the old one ran is rolled back). What a run past
// its point of no return has made whole, whatever fails after it (the
// registration, the marker's last write, a legacy service's start, an older
// node's copy left in place), which the run that follows must finish.
EndState ComponentPart(const EndState& state, const EndState& before);

// The products of a pre-processors' record (one "NAME args" line per call)
// told "-e" and not told "-b" after it, or told "-b" in another order than
// "-e"; one line each.
std::vector<std::string> ProductsCutOff(const std::string& record);

}  // namespace reliability

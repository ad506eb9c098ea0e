// What the end-to-end tests of the older-node handling seed and expect in
// common: service states, the keys of an older node and of the component,
// and the texts the tool prints around an install over an older node.
#pragma once

#include <cstdint>

namespace legacye2e {

constexpr uint32_t kStopped = 1;
constexpr uint32_t kRunning = 4;

constexpr char kReg[] = "Windows Registry Editor Version 5.00\n\n";
constexpr char kOlderNodeKey[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\n";
constexpr char kComponentKey[] = "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA";

constexpr char kNnmHeading[] = "\n\nNNM/SE Components\n*****************\n\n";
// The banners as they follow the report, without the blank lines before them.
constexpr char kInstallBannerAfterReport[] = "Installing Components\n*********************\n\n";
constexpr char kRemoveBannerAfterReport[] = "Removing Components\n*******************\n\n";
constexpr char kInstallOk[] = "Install Summary\n***************\nInstall Complete: No errors encountered.\n\n";
constexpr char kNewDriver[] =
    "Installing Driver (Kelm Embedded System Management Driver).\n"
    "Starting Service (Kelm Embedded System Management Driver)\n";

// What a managed node's legacy stop and start print: of the node agents only
// the baseboard agent, which the local response agent depends on; then the
// node's other services.
constexpr char kNodeStops[] =
    "Stopping Service (Kelm Local Response Agent)\n"
    "Stopping Service (Kelm Baseboard Agent)\n";
constexpr char kNodeServiceStops[] =
    "Stopping Service (SNMP)\n"
    "Stopping Service (Win32 DMI Service Layer)\n"
    "Stopping Service (Kelm Embedded System Management Driver)\n";
constexpr char kNodeServiceStarts[] =
    "Starting Service (Win32 DMI Service Layer)\n"
    "Starting Service (SNMP)\n";
constexpr char kNodeAgentStart[] = "Starting Service (Kelm Baseboard Agent)\n";

}  // namespace legacye2e

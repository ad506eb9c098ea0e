// The component's registry keys, all below HKEY_LOCAL_MACHINE.
#pragma once

#define KOTA_COMPONENT_KEY "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA"
#define KOTA_VERSION_KEY KOTA_COMPONENT_KEY "\\CurrentVersion"
#define KOTA_REFERENCES_KEY KOTA_COMPONENT_KEY "\\References"
#define KOTA_REFERENCE_KEY_FORMAT KOTA_REFERENCES_KEY "\\%s"
// A value of the component key that is there only while an install or a
// removal is under way ("Install" or "Remove"); only this tool reads it.
#define KOTA_CHANGE_MARKER_VALUE "ChangeInProgress"

// The driver service, its display text, and the legacy reference.
#define KOTA_DRIVER_SERVICE "vtrin"
#define KOTA_DRIVER_DISPLAY "Kelm Embedded System Management Driver"
#define LEGACY_REFERENCE_NAME "BROMVELD"
#define LEGACY_PRE_PROC_IMAGE "%SystemRoot%\\mevrid.exe -o"

/* Version of the KOTA component, shared by the resources of mevrid.exe,
   qelmot32.dll and vtrin.sys. The tool records the same 4.0 as "Version" in
   the registry; the resources let an administrator see it in the files'
   properties. */
#ifndef MEVRID_WINDOWS_VERSION_H
#define MEVRID_WINDOWS_VERSION_H

#define KOTA_VERSION_MAJOR 4
#define KOTA_VERSION_MINOR 0
#define KOTA_VERSION_BINARY KOTA_VERSION_MAJOR, KOTA_VERSION_MINOR, 0, 0
#define KOTA_VERSION_TEXT "4.0"
#define KOTA_COMPANY "Kelm Computer Corporation"
#define KOTA_PRODUCT "Kelm KOTA Component"
#define KOTA_COPYRIGHT "Copyright (C) Kelm Computer Corporation"

#endif

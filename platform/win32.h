// The one header through which the logic reaches the platform's Win32 calls.
// On Windows these are the real advapi32/kernel32 functions; on POSIX they are
// the emulation in platform/posix, with the same names, types and error codes.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/posix/win32_api.h"
#endif

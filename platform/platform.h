// Platform operations that are not Win32 calls but still depend on the
// platform: the standard library's path operations (on POSIX a Windows path
// must be translated first), the environment lookup of the Windows directory,
// the process locale, and the console output of the tool.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32.h"

// The tool's 16-bit flags: the success flag every procedure returns (1 or 0)
// and the verbose flag every procedure takes (nonzero prints).
using Flag = unsigned short;

// Text buffers of the tool: 259 characters and the terminator.
constexpr int kTextBufferSize = 260;

// The standard library's remove(): 0 when the file is gone.
int PlatformRemove(const char* path);
// The standard library's rename(): 0 when the file now bears the new name.
int PlatformRename(const char* from, const char* to);
// The standard library's tmpnam(NULL): a fresh name in the root of the
// current drive, in a buffer owned by the runtime; nullptr when none is left.
char* PlatformTmpnam();
// The standard library's change of permission, asking for write permission:
// clears the read-only attribute. 0 on success.
int PlatformMakeWritable(const char* path);

// The environment variable lookup (getenv). nullptr when the variable is not
// set. On POSIX "SystemRoot" falls back to the emulated machine's own value
// when it is absent from the process environment.
const char* PlatformGetEnv(const char* name);

// setlocale(LC_ALL, "") followed by setlocale(LC_CTYPE, NULL): the name of the
// character-type locale now in force, in Windows form ("Japanese_Japan.932").
const char* PlatformSetUserLocale();

// Console output: printf to standard output, flushed at once so progress
// appears as it happens and nothing is pending when a child process starts.
void ConsolePrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// ConsolePrint when the verbose flag is set, and nothing otherwise: the
// tool's own lines all depend on the flag its procedures pass down.
void Say(Flag verbose, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Files of the host (not of the emulated drive) that a run writes for the
// people who deploy it: its log and its record. Paths are the host's. A run
// writes only regular files: a directory, a FIFO, a device or a socket
// named there is passed over at once, never opened for writing.
enum class HostFileKind { Missing, Regular, Other };
HostFileKind PlatformHostFileKind(const char* path);
// Up to size bytes from the start of a regular file and up to size from its
// end; false when it is not one or cannot be read.
bool PlatformReadHostFileEnds(const char* path, size_t size, std::string* head, std::string* tail);
//
// A log opened once for appending: every append is one write in append
// mode, so the lines of concurrent runs sharing the file never interleave.
// nullptr when the file cannot be opened or is not a regular file.
struct PlatformLogFile;
PlatformLogFile* PlatformOpenLog(const char* path);
bool PlatformAppendToLog(PlatformLogFile* log, const char* data, size_t size);
void PlatformCloseLog(PlatformLogFile* log);
// Replaces the file with the text through a temporary file beside it and a
// rename, so a reader sees the old file or the whole new one.
bool PlatformWriteFileAtomically(const char* path, const char* data, size_t size);

// The machine's clock in milliseconds, for measuring waits: on an emulated
// machine with a virtual clock it moves with the waits, not with real time.
uint64_t PlatformClockMs();
// The wall clock as UTC text ("2026-12-09T13:45:01.250Z"), for log lines.
void PlatformUtcTimestamp(char (&text)[32]);
unsigned long PlatformProcessId();
// Removes the variable from the environment the process's children inherit.
void PlatformUnsetEnv(const char* name);
// What a log's first line names: the directory the run works from (its
// release directory) and the machine it works on.
std::string PlatformCurrentDirectory();
std::string PlatformMachineName();

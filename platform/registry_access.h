// The registry reads as the logic uses them: a value read opens the key,
// queries with the buffer's size, closes the key, and cuts the text at the
// returned length (the tool's values carry no terminator).
#pragma once

#include "platform/platform.h"

// Reads a string value of HKEY_LOCAL_MACHINE\key_path into buffer (size
// bytes, first byte cleared first). true when the key opened and the value
// fitted; false counts as absent.
bool ReadRegistryText(const char* key_path, const char* value_name, REGSAM access, char* buffer, DWORD size);
// Reads a string value of an open key the same way.
bool QueryRegistryText(HKEY key, const char* value_name, char* buffer, DWORD size);
// The same read, answering why it failed: RegQueryValueExA's status, or
// ERROR_MORE_DATA for a value that filled the buffer without a terminator.
LONG QueryRegistryTextStatus(HKEY key, const char* value_name, char* buffer, DWORD size);
// true when HKEY_LOCAL_MACHINE\key_path opens with the access.
bool RegistryKeyExists(const char* key_path, REGSAM access);

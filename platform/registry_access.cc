#include "platform/registry_access.h"

#include "platform/handles.h"

LONG QueryRegistryTextStatus(HKEY key, const char* value_name, char* buffer, DWORD size) {
  if (size == 0) return ERROR_MORE_DATA;
  // Cleared first, so an empty value reads as the empty text.
  buffer[0] = '\0';
  DWORD length = size;
  const LONG status = RegQueryValueExA(key, value_name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &length);
  if (status != ERROR_SUCCESS) {
    buffer[0] = '\0';
    return status;
  }
  if (length < size) {
    // The tool's own values carry no terminator: the text ends where the
    // data ends, never in whatever the buffer held beyond it.
    buffer[length] = '\0';
    return ERROR_SUCCESS;
  }
  // The data filled the buffer. Only a value that brought its own terminator
  // (as regedit stores strings) fits; without one there is no room left for
  // it, so the value does not fit and counts as absent like any value longer
  // than the buffer.
  if (buffer[size - 1] == '\0') return ERROR_SUCCESS;
  buffer[0] = '\0';
  return ERROR_MORE_DATA;
}

bool QueryRegistryText(HKEY key, const char* value_name, char* buffer, DWORD size) {
  return QueryRegistryTextStatus(key, value_name, buffer, size) == ERROR_SUCCESS;
}

bool ReadRegistryText(const char* key_path, const char* value_name, REGSAM access, char* buffer, DWORD size) {
  if (size != 0) buffer[0] = '\0';
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, access, key.Receive()) != ERROR_SUCCESS) return false;
  return QueryRegistryText(key.Get(), value_name, buffer, size);
}

bool RegistryKeyExists(const char* key_path, REGSAM access) {
  ScopedKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, access, key.Receive()) == ERROR_SUCCESS;
}

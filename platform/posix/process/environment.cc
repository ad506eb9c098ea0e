// The environment as a Windows program sees it: names without case, and the
// Windows directory of the machine for a process started without one.
#include <cstring>

#include "platform/posix/admin.h"
#include "platform/posix/kernel/kernel32_internal.h"
#include "platform/posix/machine/fault_check.h"

extern char** environ;

namespace emu {
namespace k32 {

const char* FindEnvironmentValue(const std::string& name) {
  if (name.empty()) return nullptr;
  const char* found = nullptr;
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* equals = strchr(*entry, '=');
    if (!equals || equals == *entry) continue;
    std::string entry_name(*entry, static_cast<size_t>(equals - *entry));
    if (entry_name == name) return equals + 1;
    if (!found && EqualsNoCase(entry_name, name)) found = equals + 1;
  }
  return found;
}

bool LookupVariable(const std::string& name, std::string* value) {
  if (const char* text = FindEnvironmentValue(name)) {
    *value = text;
    return true;
  }
  // Present but empty is a value of its own (the Windows directory is then
  // not set); only an absent variable takes the machine's.
  if (EqualsNoCase(name, "SystemRoot") || EqualsNoCase(name, "windir")) {
    *value = GetSetting("system-root", "C:\\WINDOWS");
    return true;
  }
  return false;
}

}  // namespace k32

std::string WindowsDirectory() {
  std::string directory;
  k32::LookupVariable("SystemRoot", &directory);
  return directory;
}

}  // namespace emu

DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (DWORD fault = emu::CheckFault("ExpandEnvironmentStringsA", lpSrc ? lpSrc : "")) {
    emu::SetLastErrorCode(fault);
    return 0;
  }
  if (!lpSrc) {
    emu::SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Windows' rules: "%NAME%" of a set variable becomes its value; any other
  // "%...%" (an unknown name, "%%") stays as written and the scan goes on
  // after its closing "%"; a "%" without a closing one stays with the rest.
  const std::string source = lpSrc;
  std::string result;
  size_t i = 0;
  while (i < source.size()) {
    if (source[i] != '%') {
      result += source[i++];
      continue;
    }
    size_t close = source.find('%', i + 1);
    if (close == std::string::npos) {
      result += source.substr(i);
      break;
    }
    std::string value;
    if (close > i + 1 && emu::k32::LookupVariable(source.substr(i + 1, close - i - 1), &value))
      result += value;
    else
      result += source.substr(i, close - i + 1);
    i = close + 1;
  }
  const DWORD needed = static_cast<DWORD>(result.size() + 1);
  if (lpDst && nSize >= needed) {
    memcpy(lpDst, result.c_str(), needed);
    return needed;
  }
  // Too small: as much as fits, still terminated, and the size it needs.
  if (lpDst && nSize > 0) {
    memcpy(lpDst, result.data(), nSize - 1);
    lpDst[nSize - 1] = '\0';
  }
  emu::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
  return needed;
}

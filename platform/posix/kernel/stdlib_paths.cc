// The C runtime's calls that take Windows paths or read the user's settings,
// done as a Windows program's C runtime does them: each path operation is
// one kernel32 call, so the emulated file calls (and their fault rules)
// decide, exactly as kernel32 decides for msvcrt on Windows.
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/posix/admin.h"
#include "platform/posix/kernel/kernel32_internal.h"

namespace {

// msvcrt's TMP_MAX: how many names tmpnam tries before it gives up.
constexpr int kTmpnamTries = 32767;

// errno as msvcrt's _dosmaperr sets it from the last error.
void SetErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      errno = EACCES;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_NOT_SAME_DEVICE:
      errno = EXDEV;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      errno = ENAMETOOLONG;
      break;
    default:
      errno = EINVAL;
  }
}

// A text that stays valid for the rest of the process, as the pointers
// getenv and setlocale hand out do.
const char* Intern(const std::string& text) {
  static std::set<std::string> texts;
  return texts.insert(text).first->c_str();
}

// msvcrt's base-32 digits (0-9, a-v), most significant first; zero is the
// empty text, which gives the first temporary name of a process no counter.
std::string Base32(unsigned long value) {
  std::string digits;
  for (; value != 0; value >>= 5) {
    unsigned digit = value & 31;
    digits.insert(digits.begin(), static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10));
  }
  return digits;
}

// Windows' Japanese locale always uses code page 932, whatever code set the
// host's name for it gives (ja_JP.SJIS, ja_JP.eucJP, ja_JP.UTF-8, ...), so
// every ja_JP locale is the user locale "Japanese_Japan.932".
bool NamesJapanese(const std::string& host_locale) {
  if (host_locale.size() < 5 || !emu::EqualsNoCase(host_locale.substr(0, 5), "ja_JP")) return false;
  return host_locale.size() == 5 || host_locale[5] == '.' || host_locale[5] == '@';
}

// The machine's setting may name the Japanese locale as Windows does
// ("Japanese_Japan.932", "Japanese"), by its language tag ("ja-JP") or as
// the host does ("ja_JP.UTF-8"): each is the one user locale Windows has for
// Japan, with code page 932.
bool SettingNamesJapanese(const std::string& setting) {
  if (NamesJapanese(setting) || emu::EqualsNoCase(setting, "ja-JP") || emu::EqualsNoCase(setting, "ja")) return true;
  if (setting.size() < 8 || !emu::EqualsNoCase(setting.substr(0, 8), "Japanese")) return false;
  return setting.size() == 8 || setting[8] == '_' || setting[8] == '.';
}

}  // namespace

int PlatformRemove(const char* path) {
  if (DeleteFileA(path)) return 0;
  SetErrnoFromLastError();
  return -1;
}

int PlatformRename(const char* from, const char* to) {
  if (MoveFileA(from, to)) return 0;
  SetErrnoFromLastError();
  return -1;
}

char* PlatformTmpnam() {
  static char buffer[MAX_PATH];
  // One counter for the whole process, so every request gets a new name.
  static unsigned long counter = 0;
  const std::string prefix = "\\s" + Base32(static_cast<unsigned long>(getpid())) + ".";
  for (int tries = 0; tries < kTmpnamTries; ++tries) {
    std::string name = prefix + Base32(counter++);
    if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND) {
      memcpy(buffer, name.c_str(), name.size() + 1);
      return buffer;
    }
  }
  return nullptr;
}

int PlatformMakeWritable(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      !SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    SetErrnoFromLastError();
    return -1;
  }
  return 0;
}

const char* PlatformGetEnv(const char* name) {
  if (!name) return nullptr;
  if (const char* value = emu::k32::FindEnvironmentValue(name)) return value;
  std::string fallback;
  return emu::k32::LookupVariable(name, &fallback) ? Intern(fallback) : nullptr;
}

const char* PlatformSetUserLocale() {
  // The user's locale is the machine's setting; the host's locale variables
  // (in POSIX precedence) override it only to say the user is Japanese. The
  // host process's own locale is left alone: the tool only reads the name.
  std::string host_locale;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = getenv(variable);
    if (value && *value) {
      host_locale = value;
      break;
    }
  }
  if (NamesJapanese(host_locale)) return "Japanese_Japan.932";
  const std::string setting = emu::GetSetting("user-locale", "English_United States.1252");
  if (SettingNamesJapanese(setting)) return "Japanese_Japan.932";
  return Intern(setting);
}

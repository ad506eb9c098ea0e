#include "component/currency_check.h"

#include <climits>
#include <cstdlib>

#include "component/component_files.h"
#include "component/component_keys.h"
#include "component/component_text.h"
#include "platform/registry_access.h"

namespace {

// One "%d" conversion as scanf does it (leading white space, a sign, decimal
// digits), but with an out-of-range number held at the int limits instead of
// being undefined.
bool ScanInt(const char** cursor, int* value) {
  char* end = nullptr;
  long number = strtol(*cursor, &end, 10);
  if (end == *cursor) return false;
  if (number > INT_MAX) number = INT_MAX;
  if (number < INT_MIN) number = INT_MIN;
  *value = static_cast<int>(number);
  *cursor = end;
  return true;
}

// The recorded version read as "%d.%d": true only when both numbers convert.
bool ParseVersion(const char* text, int* major, int* minor) {
  const char* cursor = text;
  if (!ScanInt(&cursor, major)) return false;
  if (*cursor != '.') return false;
  ++cursor;
  return ScanInt(&cursor, minor);
}

}  // namespace

bool ReadRecordedVersion(std::string* version) {
  char text[kTextBufferSize];
  if (!ReadRegistryText(kKotaVersionKey, "Version", KEY_READ, text, sizeof text)) return false;
  *version = text;
  return true;
}

CurrencyCheck CheckComponentCurrency(const char* windows_directory, Flag verbose) {
  CurrencyCheck check;
  // No version key, no value, or a value that does not parse: nothing is
  // installed that could be current, so the install goes ahead silently.
  std::string version;
  if (!ReadRecordedVersion(&version)) return check;
  int major = 0, minor = 0;
  check.Row = CurrencyRow::VersionUnreadable;
  if (!ParseVersion(version.c_str(), &major, &minor)) return check;
  Say(verbose, "Found KOTA Version: %d.%d installed.\n", major, minor);
  check.ThisVersionRecorded = major == kComponentVersionMajor && minor == kComponentVersionMinor;
  check.Row = CurrencyRow::VersionOlder;
  if (major < kComponentVersionMajor || (major == kComponentVersionMajor && minor < kComponentVersionMinor))
    return check;

  // A recorded version that is current still needs every installed file to
  // be at least as new as the one in the release directory.
  check.Row = CurrencyRow::FileOlder;
  for (const ComponentFile& file : kComponentFiles) {
    std::string installed = FormatText(file.InstalledPathFormat, windows_directory, file.FileName);
    std::string release = FormatText(file.ReleasePathFormat, file.FileName);
    if (IsInstalledFileOlder(installed.c_str(), release.c_str())) {
      check.File = &file;
      return check;
    }
  }
  check.Row = CurrencyRow::Current;
  check.InstallNeeded = false;
  return check;
}

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

Flag IsComponentInstallNeeded(const char* windows_directory, Flag verbose, bool* this_version_recorded) {
  if (this_version_recorded) *this_version_recorded = false;
  // No version key, no value, or a value that does not parse: nothing is
  // installed that could be current, so the install goes ahead silently.
  char version[kTextBufferSize];
  if (!ReadRegistryText(KOTA_VERSION_KEY, "Version", KEY_READ, version, sizeof version)) return 1;
  int major = 0, minor = 0;
  if (!ParseVersion(version, &major, &minor)) return 1;
  if (verbose) ConsolePrint("Found KOTA Version: %d.%d installed.\n", major, minor);
  if (this_version_recorded)
    *this_version_recorded = major == kComponentVersionMajor && minor == kComponentVersionMinor;
  if (major < kComponentVersionMajor || (major == kComponentVersionMajor && minor < kComponentVersionMinor)) return 1;

  // A recorded version that is current still needs every installed file to
  // be at least as new as the one in the release directory.
  for (const ComponentFile& file : kComponentFiles) {
    std::string installed = FormatText(file.InstalledPathFormat, windows_directory, file.FileName);
    std::string release = FormatText(file.ReleasePathFormat, file.FileName);
    if (IsInstalledFileOlder(installed.c_str(), release.c_str())) return 1;
  }
  return 0;
}

// The component's file set (library, driver, tool), the currency check, and
// the copy and deletion of one component file.
#pragma once

#include <string>

#include "platform/platform.h"

enum class ComponentRole { Library, Driver, Tool };

struct ComponentFile {
  ComponentRole Role;
  const char* FileName;
  const char* ReleasePathFormat;    // one %s: the file name
  const char* InstalledPathFormat;  // two %s: the Windows directory, the file name
};

// Library, driver, tool: the order of the currency check.
extern const ComponentFile kComponentFiles[3];
// The row of the file set with that role.
const ComponentFile& ComponentFileOf(ComponentRole role);
// Where a role's file is installed below the Windows directory, formed in
// full: a path too long for the tool's buffers is never cut to another name.
std::string InstalledPathOf(ComponentRole role, const char* windows_directory);

constexpr int kComponentVersionMajor = 4;
constexpr int kComponentVersionMinor = 0;

// The row of the currency check that gave its answer, in the order the rows
// are tried: the recorded version first, then each file of the set.
enum class CurrencyRow { NoVersion, VersionUnreadable, VersionOlder, FileOlder, Current };

struct CurrencyCheck {
  Flag InstallNeeded = 1;
  CurrencyRow Row = CurrencyRow::NoVersion;
  // The file whose installed copy is missing or older (Row FileOlder).
  const ComponentFile* File = nullptr;
  // Whether the recorded version is exactly the one this tool records: only
  // such a record can have been left by an install of this very tool that
  // stopped half-way.
  bool ThisVersionRecorded = false;
};

// The "Version" text the version key records; false when none can be read.
bool ReadRecordedVersion(std::string* version);
// The currency check with the row that decided it; prints the version found
// when verbose.
CurrencyCheck CheckComponentCurrency(const char* windows_directory, Flag verbose);
// this_version_recorded, when given, learns CurrencyCheck::ThisVersionRecorded.
Flag IsComponentInstallNeeded(const char* windows_directory, Flag verbose, bool* this_version_recorded = nullptr);
Flag IsInstalledFileOlder(const char* installed_path, const char* release_path);
Flag CopyComponentFile(const char* source_path, const char* target_path, Flag verbose);
Flag DeleteComponentFile(const char* path, Flag verbose);
// The line of a deletion that failed, when verbose.
void ReportUndeletedFile(const char* path, Flag verbose);

// The component's file set (library, driver, tool), the version this release
// installs, and the copy, comparison and deletion of one component file.
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
// Tool, library, driver: the order an install replaces them in, so a failed
// copy leaves the driver, copied last, as it was.
inline constexpr ComponentRole kCopyOrder[] = {ComponentRole::Tool, ComponentRole::Library, ComponentRole::Driver};
// The row of the file set with that role.
const ComponentFile& ComponentFileOf(ComponentRole role);
// Where a role's file is installed below the Windows directory, formed in
// full: a path too long for the tool's buffers is never cut to another name.
std::string InstalledPathOf(ComponentRole role, const char* windows_directory);

// The version this release installs and records.
constexpr int kComponentVersionMajor = 4;
constexpr int kComponentVersionMinor = 0;

bool IsInstalledFileOlder(const char* installed_path, const char* release_path);
Flag CopyComponentFile(const char* source_path, const char* target_path, Flag verbose);
Flag DeleteComponentFile(const char* path, Flag verbose);
// The line of a deletion that failed, when verbose.
void ReportUndeletedFile(const char* path, Flag verbose);

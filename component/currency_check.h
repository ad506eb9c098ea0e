// The currency check: whether the installed component needs this release,
// decided from the recorded version and then each file of the set.
#pragma once

#include <string>

#include "component/component_files.h"
#include "platform/platform.h"

// The row of the currency check that gave its answer, in the order the rows
// are tried: the recorded version first, then each file of the set.
enum class CurrencyRow { NoVersion, VersionUnreadable, VersionOlder, FileOlder, Current };

struct CurrencyCheck {
  bool InstallNeeded = true;
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

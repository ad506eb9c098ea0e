// The clock of a FILETIME: 100 ns ticks from 1601-01-01, which is
// 11644473600 s before the Unix epoch.
#pragma once

#include <cstdint>

constexpr int64_t kFileTimeTicksPerSecond = 10000000;
constexpr int64_t kFileTimeUnixEpochSeconds = 11644473600LL;
constexpr int64_t kFileTimeUnixEpochTicks = kFileTimeUnixEpochSeconds * kFileTimeTicksPerSecond;

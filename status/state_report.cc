#include "status/state_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "services/driver_service.h"
#include "status/json_text.h"
#include "util/file_time.h"

namespace {

std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start-pending";
    case SERVICE_STOP_PENDING: return "stop-pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue-pending";
    case SERVICE_PAUSE_PENDING: return "pause-pending";
    case SERVICE_PAUSED: return "paused";
    default: return "unknown";
  }
}

const char* StartTypeName(DWORD start_type) {
  switch (start_type) {
    case SERVICE_BOOT_START: return "boot";
    case SERVICE_SYSTEM_START: return "system";
    case SERVICE_AUTO_START: return "auto";
    case SERVICE_DEMAND_START: return "demand";
    case SERVICE_DISABLED: return "disabled";
    default: return "unknown";
  }
}

const char* PresenceName(DriverPresence presence) {
  switch (presence) {
    case DriverPresence::Defined: return "defined";
    case DriverPresence::Absent: return "absent";
    case DriverPresence::Unknown: break;
  }
  return "unknown";
}

// How the installed copy stands against the release's: null when not compared.
const char* ComparisonName(ReleaseComparison comparison) {
  switch (comparison) {
    case ReleaseComparison::ReleaseMissing: return "release-missing";
    case ReleaseComparison::Newer: return "newer";
    case ReleaseComparison::Same: return "same";
    case ReleaseComparison::Older: return "older";
    case ReleaseComparison::NotCompared: break;
  }
  return nullptr;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

// The marker's entries as the report's lines, in the marker's order.
std::vector<std::string> ChangeLines(const ChangeMarker& marker) {
  std::vector<std::string> lines;
  if (marker.Install) lines.push_back("an install left unfinished");
  if (marker.KeptAside) lines.push_back("old files kept aside beside the installed ones");
  if (marker.Discard) lines.push_back("kept-aside old files left to delete");
  for (const std::string& name : marker.Removals) lines.push_back("the removal of " + name + " left unfinished");
  return lines;
}

}  // namespace

std::string FileTimeText(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const int64_t seconds = static_cast<int64_t>(ticks / kFileTimeTicksPerSecond) - kFileTimeUnixEpochSeconds;
  int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  return Format("%04" PRId64 "-%02u-%02uT%02u:%02u:%02uZ", year, month, day, static_cast<unsigned>(rest / 3600),
                static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60));
}

std::string StateText(const MachineState& state) {
  std::string text = "KOTA component\n";
  text += "  Version: " + (state.VersionRecorded ? state.Version : std::string("(none recorded)")) + "\n";
  text += "  Uninstaller: " + (state.UninstallerRecorded ? state.Uninstaller : std::string("(none recorded)")) + "\n";
  text += "Change in progress\n";
  const std::vector<std::string> changes = ChangeLines(state.ChangeInProgress);
  if (changes.empty()) text += "  (none)\n";
  for (const std::string& line : changes) text += "  " + line + "\n";
  text += "References\n";
  if (state.References.empty()) text += "  (none)\n";
  for (const ReferenceState& reference : state.References)
    text += "  " + reference.Name + ": " + (reference.ImageReadable ? reference.Image : "(no readable image)") + "\n";
  const DriverServiceState& driver = state.Driver;
  text += Format("Driver service %s: %s", kDriverServiceName, PresenceName(driver.Presence));
  if (driver.Presence == DriverPresence::Defined) text += Format(", %s", StateName(driver.State));
  if (driver.StartTypeReadable) text += Format(", start %s", StartTypeName(driver.StartType));
  if (driver.ImagePathReadable) text += ", image " + driver.ImagePath;
  text += "\nInstalled files\n";
  if (!state.WindowsDirectoryKnown) text += "  (the Windows directory is not set)\n";
  for (const InstalledFileState& file : state.Files) {
    text += "  " + file.Path + ": ";
    if (!file.Present) {
      text += "absent\n";
      continue;
    }
    text += Format("%" PRIu64 " bytes, written %s", file.Size, FileTimeText(file.LastWrite).c_str());
    if (const char* comparison = ComparisonName(file.Release)) text += Format(", release: %s", comparison);
    text += "\n";
  }
  text += "Old files kept aside\n";
  if (state.KeptAside.empty()) text += "  (none)\n";
  for (const KeptAsideFileState& file : state.KeptAside) {
    text += "  " + file.Path;
    if (file.FactsReadable)
      text += Format(": %" PRIu64 " bytes, written %s", file.Size, FileTimeText(file.LastWrite).c_str());
    text += "\n";
  }
  text += "Deletions pending for the next restart\n";
  if (state.PendingDeletions.empty()) text += "  (none)\n";
  for (const std::string& path : state.PendingDeletions) text += "  " + path + "\n";
  text += Format("Install lock: %s\n", state.InstallLockHeld ? "held by an install or removal" : "free");
  return text;
}

std::string StateJson(const MachineState& state) {
  std::string json = "{\"schema\":1";
  json += ",\"version\":" + JsonStringOrNull(state.VersionRecorded, state.Version);
  json += ",\"uninstaller\":" + JsonStringOrNull(state.UninstallerRecorded, state.Uninstaller);
  const ChangeMarker& change = state.ChangeInProgress;
  json += Format(",\"change_in_progress\":{\"install\":%s,\"kept_aside\":%s,\"discard\":%s,\"removals\":",
                 JsonBool(change.Install), JsonBool(change.KeptAside), JsonBool(change.Discard));
  json += JsonStringList(change.Removals) + "}";
  json += ",\"references\":[";
  for (size_t i = 0; i < state.References.size(); ++i) {
    const ReferenceState& reference = state.References[i];
    json += std::string(i ? "," : "") + "{\"name\":" + JsonString(reference.Name) +
            ",\"image\":" + JsonStringOrNull(reference.ImageReadable, reference.Image) + "}";
  }
  const DriverServiceState& driver = state.Driver;
  const bool defined = driver.Presence == DriverPresence::Defined;
  json += Format("],\"driver_service\":{\"name\":\"%s\",\"presence\":\"%s\",\"state\":", kDriverServiceName,
                 PresenceName(driver.Presence));
  json += defined ? JsonString(StateName(driver.State)) : "null";
  json += ",\"start_type\":" + JsonStringOrNull(driver.StartTypeReadable, StartTypeName(driver.StartType));
  json += ",\"image_path\":" + JsonStringOrNull(driver.ImagePathReadable, driver.ImagePath) + "}";
  json += ",\"files\":[";
  for (size_t i = 0; i < state.Files.size(); ++i) {
    const InstalledFileState& file = state.Files[i];
    json += std::string(i ? "," : "") + "{\"name\":" + JsonString(file.File->FileName) +
            ",\"path\":" + JsonString(file.Path) + ",\"present\":" + JsonBool(file.Present);
    if (file.Present) {
      json += Format(",\"size\":%" PRIu64 ",\"last_write\":\"%s\"", file.Size, FileTimeText(file.LastWrite).c_str());
      const char* comparison = ComparisonName(file.Release);
      json += ",\"release\":" + JsonStringOrNull(comparison != nullptr, comparison ? comparison : "");
    }
    json += "}";
  }
  json += "],\"kept_aside_files\":[";
  for (size_t i = 0; i < state.KeptAside.size(); ++i) {
    const KeptAsideFileState& file = state.KeptAside[i];
    json += std::string(i ? "," : "") + "{\"path\":" + JsonString(file.Path);
    if (file.FactsReadable)
      json += Format(",\"size\":%" PRIu64 ",\"last_write\":\"%s\"", file.Size, FileTimeText(file.LastWrite).c_str());
    else
      json += ",\"size\":null,\"last_write\":null";
    json += "}";
  }
  json += "],\"pending_deletions\":" + JsonStringList(state.PendingDeletions);
  json += Format(",\"install_lock_held\":%s}\n", JsonBool(state.InstallLockHeld));
  return json;
}

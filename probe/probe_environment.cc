// The environment probe: which of the suite's products and which management
// console the machine carries. It only reads; every key is opened with
// KEY_QUERY_VALUE and closed again before the next, and anything that cannot
// be opened or read (a value too long for its buffer included) is simply not
// there.
#include <cstring>

#include "platform/registry_access.h"
#include "probe/environment_profile.h"
#include "probe/text_compare.h"

namespace {

constexpr char kOlderNodeKey[] = "SOFTWARE\\Kelm\\KelmZAQ\\Current Version";
// The newer registration alone spells "CurrentVersion" without a blank.
constexpr char kNewerNodeKey[] = "SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion";
constexpr char kSuiteKey[] = "SOFTWARE\\Kelm Computer Corporation";
constexpr char kServerManagerKey[] = "SOFTWARE\\Kelm\\Kelm Server Manager\\Current Version";
constexpr char kServerConsoleKey[] =
    "SOFTWARE\\Kelm Computer Corporation\\Kelm Wardhaven Server Console\\Current Version";
constexpr char kOpenViewKey[] = "SOFTWARE\\Hewlett-Packard\\OpenView";
constexpr char kNetworkNodeManagerKey[] = "SOFTWARE\\Hewlett-Packard\\OpenView\\Network Node Manager";
constexpr char kRemoteAssistantKey[] =
    "SOFTWARE\\Kelm Computer Corporation\\Kelm Remote Assistant Server\\Current Version";
constexpr char kRemoteAssistantServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Kelm Remote Assistant Server";

constexpr DWORD kVersionBufferSize = 16;
constexpr DWORD kPathBufferSize = 260;
constexpr char kJapaneseLocale[] = "Japanese_Japan.932";

bool KeyOpens(const char* key_path) { return RegistryKeyExists(key_path, KEY_QUERY_VALUE); }

// A failed read leaves the buffer empty, whatever the query put in it.
bool ReadField(const char* key_path, const char* value_name, char* field, DWORD size) {
  return ReadRegistryText(key_path, value_name, KEY_QUERY_VALUE, field, size);
}

void ProbeOlderNodeRegistration(EnvironmentProfile* p) {
  if (!KeyOpens(kOlderNodeKey)) return;
  if (!ReadField(kOlderNodeKey, "Version", p->NodeVersion, kVersionBufferSize)) return;
  // The DMI path itself is not used: the registration only counts when it is
  // complete.
  char dmi_path[kPathBufferSize];
  p->NodePresent = ReadField(kOlderNodeKey, "DMIPath", dmi_path, sizeof dmi_path) ? 1 : 0;
}

// The package records its binaries directory; the suite's programs live two
// levels up. Only the exact letter case the installer writes is cut.
void CutBinariesDirectory(char* path) {
  if (char* found = std::strstr(path, "\\ihv\\bin")) *found = '\0';
}

void ProbeNewerNodeRegistration(EnvironmentProfile* p) {
  if (KeyOpens(kNewerNodeKey)) {
    if (!ReadField(kNewerNodeKey, "Version", p->NodeVersion, kVersionBufferSize)) {
      p->NodePresent = 0;
      return;
    }
    p->NodePresent = 1;
    if (!ReadField(kNewerNodeKey, "PathName", p->ProgramFilesPath, kPathBufferSize)) {
      p->NodePresent = 0;
      return;
    }
    CutBinariesDirectory(p->ProgramFilesPath);
    return;
  }
  if (KeyOpens(kSuiteKey)) ReadField(kSuiteKey, "KelmPath", p->ProgramFilesPath, kPathBufferSize);
}

void ProbeConsoleVersion(EnvironmentProfile* p) {
  const char* key = nullptr;
  if (KeyOpens(kServerManagerKey)) {
    key = kServerManagerKey;
  } else if (KeyOpens(kServerConsoleKey)) {
    key = kServerConsoleKey;
  }
  if (key == nullptr) return;
  p->ConsolePresent = ReadField(key, "Version", p->ConsoleVersion, kVersionBufferSize) ? 1 : 0;
}

// OpenView keeps its messages per language: "C", or the Japanese directory on
// a machine whose user locale is Japanese (code page 932).
void ProbeLanguageDirectory(EnvironmentProfile* p) {
  const char* ctype = PlatformSetUserLocale();
  std::strcpy(p->LanguageDirectory, "C");
  if (ctype != nullptr && std::strcmp(ctype, kJapaneseLocale) == 0) {
    std::strcpy(p->LanguageDirectory, kJapaneseLocale);
  }
}

// OpenView decides the role when it is installed; only without it do the
// suite's own consoles count.
void ProbeRole(EnvironmentProfile* p) {
  p->ConsoleRole = None;
  if (KeyOpens(kOpenViewKey)) {
    ReadField(kOpenViewKey, "OV_PATH", p->OpenViewPath, kPathBufferSize);
    char manager_type[kVersionBufferSize];
    if (!KeyOpens(kNetworkNodeManagerKey) ||
        !ReadField(kNetworkNodeManagerKey, "ManagerType", manager_type, sizeof manager_type)) {
      return;
    }
    if (EqualsIgnoringCase(manager_type, "MANAGER")) {
      p->ConsoleRole = Manager;
    } else if (EqualsIgnoringCase(manager_type, "CONSOLE")) {
      p->ConsoleRole = Console;
    }
    ProbeLanguageDirectory(p);
    return;
  }
  if (KeyOpens(kServerConsoleKey) || KeyOpens(kRemoteAssistantKey)) p->ConsoleRole = Applications;
}

// A remote assistant server shows as console version 1.3, whatever version
// it records; a version that cannot be read leaves the console as it was.
void ProbeRemoteAssistant(EnvironmentProfile* p) {
  if (!KeyOpens(kRemoteAssistantServiceKey) || p->ConsoleRole != Applications) return;
  if (!KeyOpens(kRemoteAssistantKey)) return;
  char version[kVersionBufferSize];
  if (!ReadField(kRemoteAssistantKey, "Version", version, sizeof version)) return;
  p->ConsolePresent = 1;
  std::strcpy(p->ConsoleVersion, "1.3");
}

}  // namespace

void ProbeEnvironment() {
  // Probed afresh: nothing from an earlier probe of this process survives.
  EnvironmentProfile profile;
  ProbeOlderNodeRegistration(&profile);
  ProbeNewerNodeRegistration(&profile);
  ProbeConsoleVersion(&profile);
  ProbeRole(&profile);
  ProbeRemoteAssistant(&profile);
  g_EnvironmentProfile = profile;
}

// The environment probe: which of the suite's products and which management
// console the machine carries. It only reads; every key is opened with
// KEY_QUERY_VALUE and closed again before the next, and anything that cannot
// be opened or read (a value too long for its buffer included) is simply not
// there.
#include <cstring>

#include "platform/ascii_case.h"
#include "platform/handles.h"
#include "platform/registry_access.h"
#include "probe/environment_profile.h"

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

// Each key is opened once, read through that handle and closed before the
// next is opened, so the probe asks the registry exactly one question per key
// it looks at.
bool OpenKey(const char* key_path, ScopedKey* key) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE, key->Receive()) == ERROR_SUCCESS;
}

bool KeyOpens(const char* key_path) {
  ScopedKey key;
  return OpenKey(key_path, &key);
}

// A failed read leaves the buffer empty, whatever the query put in it.
bool ReadField(const ScopedKey& key, const char* value_name, char* field, DWORD size) {
  return QueryRegistryText(key.Get(), value_name, field, size);
}

void ProbeOlderNodeRegistration(EnvironmentProfile* p) {
  ScopedKey key;
  if (!OpenKey(kOlderNodeKey, &key)) return;
  if (!ReadField(key, "Version", p->NodeVersion, kVersionBufferSize)) return;
  // The DMI path itself is not used: the registration only counts when it is
  // complete.
  char dmi_path[kPathBufferSize];
  p->NodePresent = ReadField(key, "DMIPath", dmi_path, sizeof dmi_path) ? 1 : 0;
}

// The package records its binaries directory; the suite's programs live two
// levels up. Only the exact letter case the installer writes is cut.
void CutBinariesDirectory(char* path) {
  if (char* found = std::strstr(path, "\\ihv\\bin")) *found = '\0';
}

void ProbeNewerNodeRegistration(EnvironmentProfile* p) {
  ScopedKey key;
  if (OpenKey(kNewerNodeKey, &key)) {
    if (!ReadField(key, "Version", p->NodeVersion, kVersionBufferSize)) {
      p->NodePresent = 0;
      return;
    }
    p->NodePresent = 1;
    if (!ReadField(key, "PathName", p->ProgramFilesPath, kPathBufferSize)) {
      p->NodePresent = 0;
      return;
    }
    CutBinariesDirectory(p->ProgramFilesPath);
    return;
  }
  if (OpenKey(kSuiteKey, &key)) ReadField(key, "KelmPath", p->ProgramFilesPath, kPathBufferSize);
}

// The server manager's key wins; the server console's is only looked at
// when the manager's does not open.
void ProbeConsoleVersion(EnvironmentProfile* p) {
  ScopedKey key;
  if (!OpenKey(kServerManagerKey, &key) && !OpenKey(kServerConsoleKey, &key)) return;
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

// The manager type of an installed Network Node Manager; false when its key
// does not open or the type cannot be read.
bool ReadManagerType(char (&manager_type)[kVersionBufferSize]) {
  ScopedKey key;
  return OpenKey(kNetworkNodeManagerKey, &key) && ReadField(key, "ManagerType", manager_type, sizeof manager_type);
}

// OpenView decides the role when it is installed; only without it do the
// suite's own consoles count.
void ProbeRole(EnvironmentProfile* p) {
  p->ConsoleRole = ConsoleRole::None;
  ScopedKey open_view;
  if (OpenKey(kOpenViewKey, &open_view)) {
    ReadField(open_view, "OV_PATH", p->OpenViewPath, kPathBufferSize);
    open_view.Close();
    char manager_type[kVersionBufferSize];
    if (!ReadManagerType(manager_type)) return;
    if (EqualsIgnoringAsciiCase(manager_type, "MANAGER")) {
      p->ConsoleRole = ConsoleRole::Manager;
    } else if (EqualsIgnoringAsciiCase(manager_type, "CONSOLE")) {
      p->ConsoleRole = ConsoleRole::Console;
    }
    ProbeLanguageDirectory(p);
    return;
  }
  if (KeyOpens(kServerConsoleKey) || KeyOpens(kRemoteAssistantKey)) p->ConsoleRole = ConsoleRole::Applications;
}

// A remote assistant server shows as console version 1.3, whatever version
// it records; a version that cannot be read leaves the console as it was.
void ProbeRemoteAssistant(EnvironmentProfile* p) {
  if (!KeyOpens(kRemoteAssistantServiceKey) || p->ConsoleRole != ConsoleRole::Applications) return;
  ScopedKey key;
  if (!OpenKey(kRemoteAssistantKey, &key)) return;
  char version[kVersionBufferSize];
  if (!ReadField(key, "Version", version, sizeof version)) return;
  p->ConsolePresent = 1;
  std::strcpy(p->ConsoleVersion, "1.3");
}

}  // namespace

EnvironmentProfile ProbeEnvironment() {
  // Probed afresh: nothing from an earlier probe of this process survives.
  EnvironmentProfile profile;
  ProbeOlderNodeRegistration(&profile);
  ProbeNewerNodeRegistration(&profile);
  ProbeConsoleVersion(&profile);
  ProbeRole(&profile);
  ProbeRemoteAssistant(&profile);
  return profile;
}

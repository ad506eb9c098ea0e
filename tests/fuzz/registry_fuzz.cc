// The registry as hostile input: the fuzz input writes values of any type and
// length, under keys with any names, below the keys the tool reads (the
// component's, the managed node's, the consoles', OpenView's). Then the tool
// reads them all: the probe and its report, the currency check, both
// notification walks and the single notification (with every process start
// failing, so nothing is run), and a removal.
//
// Input: records until the input ends, each
//   key (1 byte: one of kKeys), subkey name length (1 byte) and bytes,
//   value name (1 byte: one of kValueNames, or past them a length byte and
//   the name's bytes), type (1 byte), data length (2 bytes) and bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "component/component_files.h"
#include "component/component_keys.h"
#include "component/currency_check.h"
#include "component/notifications.h"
#include "component/uninstall.h"
#include "platform/posix/admin.h"
#include "probe/environment_profile.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {

const char* const kKeys[] = {
    kKotaComponentKey,
    kKotaVersionKey,
    kKotaReferencesKey,
    "SOFTWARE\\Kelm\\KelmZAQ\\Current Version",
    "SOFTWARE\\Kelm Computer Corporation\\Kelm ZAQ\\CurrentVersion",
    "SOFTWARE\\Kelm Computer Corporation",
    "SOFTWARE\\Kelm\\Kelm Server Manager\\Current Version",
    "SOFTWARE\\Kelm Computer Corporation\\Kelm Wardhaven Server Console\\Current Version",
    "SOFTWARE\\Hewlett-Packard\\OpenView",
    "SOFTWARE\\Hewlett-Packard\\OpenView\\Network Node Manager",
    "SOFTWARE\\Kelm Computer Corporation\\Kelm Remote Assistant Server\\Current Version",
    "SYSTEM\\CurrentControlSet\\Services\\Kelm Remote Assistant Server",
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

const char* const kValueNames[] = {"Version",  "UnInstallImage", "PreProcImage", "DMIPath", "PathName",
                                   "KelmPath", "OV_PATH",        "ManagerType",  ""};
constexpr size_t kValueNameCount = sizeof kValueNames / sizeof kValueNames[0];

const uint32_t kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE};

// The roots of everything an input writes, emptied before the next input.
const char* const kRoots[] = {"SOFTWARE\\Kelm Computer Corporation", "SOFTWARE\\Kelm", "SOFTWARE\\Hewlett-Packard",
                              "SYSTEM\\CurrentControlSet\\Services\\Kelm Remote Assistant Server"};

void ClearRoots() {
  for (const char* root : kRoots) {
    emu::admin::DeleteKeyTree(root);
  }
}

// Writes the input's records; returns a reference name to remove (a name
// written below the References key, else "ALPHA").
std::string WriteRecords(fuzzing::InputReader* in) {
  std::string reference = "ALPHA";
  while (!in->empty()) {
    const size_t key_index = in->Byte() % kKeyCount;
    std::string path = kKeys[key_index];
    const std::string subkey = in->Bytes(in->Byte());
    if (!subkey.empty()) path += "\\" + subkey;
    const unsigned name_choice = in->Byte();
    const std::string name = name_choice < kValueNameCount ? kValueNames[name_choice] : in->Bytes(in->Byte());
    const unsigned type_choice = in->Byte();
    const uint32_t type = type_choice < 6 ? kTypes[type_choice] : type_choice;
    const std::string data = in->Bytes(in->Word());
    if (!emu::admin::CreateKey(path)) continue;
    emu::admin::SetValue(path, name, type, data);
    if (key_index == 2 && !subkey.empty() && subkey.find('\\') == std::string::npos) reference = subkey;
  }
  return reference;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool prepared = false;
  fuzzing::UseFuzzMachine();
  if (!prepared) {
    // Pre-processors are never started: every process start fails.
    emu::AddFaultRule("CreateProcessA", "", ERROR_ACCESS_DENIED, 1, true);
    prepared = true;
  }
  std::string reference;
  {
    // One transaction for the whole set-up: thousands of inputs a second.
    emu::admin::Batch batch;
    ClearRoots();
    fuzzing::InputReader in(data, size);
    reference = WriteRecords(&in);
    batch.Commit();
  }

  const EnvironmentProfile profile = ProbeEnvironment();
  PrintEnvironmentReport(profile);
  IsManagedNode(profile);
  IsManagementStation(profile);
  IsNodeVersion(profile, "3.2.1");
  CheckComponentCurrency("C:\\WINDOWS", 1);
  NotifyAllReferencesEnd(1);
  NotifyAllReferencesBegin(0);
  // Names as the command line gives them: upper-case, at most 204 characters.
  for (char& c : reference)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (reference.size() > 204 || reference.find('\0') != std::string::npos) reference = "ALPHA";
  NotifyReferenceEnd(reference.c_str(), 1);
  UninstallComponent(reference.c_str(), 1);
  return 0;
}

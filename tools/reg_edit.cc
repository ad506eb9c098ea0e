// reg add and reg delete, with Windows' reg switches. Neither ever asks for
// confirmation: /f is accepted and is what always happens.
#include <cctype>
#include <cstdio>

#include "platform/posix/admin.h"
#include "tools/reg_common.h"
#include "tools/tool.h"

namespace machine_tool {
namespace {

constexpr const char* kSuccess = "The operation completed successfully.\n";

std::string LittleEndianBytes(uint64_t value, size_t bytes) {
  std::string data;
  for (size_t i = 0; i < bytes; ++i) data += static_cast<char>((value >> (8 * i)) & 0xFF);
  return data;
}

bool HexToBytes(const std::string& hex, std::string* data) {
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    uint64_t byte = 0;
    std::string pair = hex.substr(i, 2);
    if (!isxdigit(static_cast<unsigned char>(pair[0])) || !isxdigit(static_cast<unsigned char>(pair[1])) ||
        !ParseNumber("0x" + pair, 0xFF, &byte))
      return false;
    *data += static_cast<char>(byte);
  }
  return true;
}

// The bytes reg add stores for /d text of a type: strings with their
// terminator (as reg and regedit store them), a multi-string split at the
// separator with the closing empty string, numbers little-endian.
bool EncodeData(uint32_t type, const std::string& text, const std::string& separator, std::string* data,
                std::string* error) {
  uint64_t number = 0;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      *data = text + '\0';
      return true;
    case REG_MULTI_SZ: {
      size_t start = 0;
      while (!text.empty()) {
        size_t end = text.find(separator, start);
        *data += text.substr(start, end == std::string::npos ? std::string::npos : end - start) + '\0';
        if (end == std::string::npos) break;
        start = end + separator.size();
      }
      *data += '\0';
      return true;
    }
    case REG_DWORD:
      if (!ParseNumber(text.empty() ? "0" : text, 0xFFFFFFFFu, &number)) break;
      *data = LittleEndianBytes(number, 4);
      return true;
    case REG_QWORD:
      if (!ParseNumber(text.empty() ? "0" : text, UINT64_MAX, &number)) break;
      *data = LittleEndianBytes(number, 8);
      return true;
    default:
      if (!HexToBytes(text, data)) {
        *error = "binary data must be pairs of hexadecimal digits, got '" + text + "'";
        return false;
      }
      return true;
  }
  *error = "not a number for " + std::string(RegTypeName(type)) + ": '" + text + "'";
  return false;
}

bool OneValueSwitchOnly(bool* seen) {
  if (*seen) {
    Fail("name one value only: /v NAME, /ve or /va");
    return false;
  }
  *seen = true;
  return true;
}

}  // namespace

int RunRegAdd(const Context& ctx, const Args& args) {
  if (args.empty()) return Fail("'reg add' needs a key");
  std::string path, value_name, text, separator = "\\0";
  uint32_t type = REG_SZ;
  bool value_given = false, data_given = false, type_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool takes_word = IsSwitch(arg, "v") || IsSwitch(arg, "t") || IsSwitch(arg, "d") || IsSwitch(arg, "s");
    if (takes_word && i + 1 >= args.size()) return Fail("'reg add " + arg + "' needs a word after it");
    if (IsSwitch(arg, "v")) {
      if (!OneValueSwitchOnly(&value_given)) return kExitUsage;
      value_name = args[++i];
    } else if (IsSwitch(arg, "ve")) {
      if (!OneValueSwitchOnly(&value_given)) return kExitUsage;
    } else if (IsSwitch(arg, "t")) {
      if (!RegTypeOfName(args[++i], &type)) return Fail("unknown value type '" + args[i] + "'");
      type_given = true;
    } else if (IsSwitch(arg, "d")) {
      text = args[++i];
      data_given = true;
    } else if (IsSwitch(arg, "s")) {
      separator = args[++i];
      if (separator.empty()) return Fail("'reg add /s' needs a separator");
    } else if (!IsSwitch(arg, "f")) {
      return Fail("unexpected argument '" + arg + "' for 'reg add'");
    }
  }
  if (!ParseKeyArgument(args[0], &path)) return kExitUsage;
  std::string data, error;
  // The key as a .reg import would take it: below the hive, each name 1 to
  // 255 characters (one trailing separator is dropped, as there).
  std::string given = args[0];
  size_t hive_end = given.find('\\');
  std::string hive = given.substr(0, hive_end);
  if (emu::EqualsNoCase(hive, "HKEY_LOCAL_MACHINE") || emu::EqualsNoCase(hive, "HKLM"))
    given = hive_end == std::string::npos ? "" : given.substr(hive_end + 1);
  if (!given.empty() && given.back() == '\\') given.pop_back();
  if (!emu::admin::CheckKeyPath(given, args[0], &error)) return Fail(error);
  // /t or /d without a name set the default value, as reg does.
  bool set_value = value_given || data_given || type_given;
  if (set_value && !EncodeData(type, text, separator, &data, &error)) return Fail(error);
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  if (!(set_value ? emu::admin::SetValue(path, value_name, type, data) : emu::admin::CreateKey(path)))
    return Fail("cannot write HKEY_LOCAL_MACHINE\\" + path);
  printf("%s", kSuccess);
  return kExitOk;
}

int RunRegDelete(const Context& ctx, const Args& args) {
  if (args.empty()) return Fail("'reg delete' needs a key");
  std::string path, value_name;
  bool one_value = false, all_values = false, value_switch = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsSwitch(arg, "v")) {
      if (i + 1 >= args.size()) return Fail("'reg delete /v' needs a value name");
      if (!OneValueSwitchOnly(&value_switch)) return kExitUsage;
      value_name = args[++i];
      one_value = true;
    } else if (IsSwitch(arg, "ve")) {
      if (!OneValueSwitchOnly(&value_switch)) return kExitUsage;
      one_value = true;
    } else if (IsSwitch(arg, "va")) {
      if (!OneValueSwitchOnly(&value_switch)) return kExitUsage;
      all_values = true;
    } else if (!IsSwitch(arg, "f")) {
      return Fail("unexpected argument '" + arg + "' for 'reg delete'");
    }
  }
  if (!ParseKeyArgument(args[0], &path)) return kExitUsage;
  if (path.empty() && !value_switch) return Fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  // reg deletes the key with everything below it, unless a value is named.
  emu::admin::Removal removal = one_value    ? emu::admin::DeleteValue(path, value_name)
                                : all_values ? emu::admin::DeleteAllValues(path)
                                             : emu::admin::DeleteKeyTree(path);
  if (removal == emu::admin::Removal::kMissing) return ReportMissingKeyOrValue();
  if (removal == emu::admin::Removal::kFailed) return Fail("cannot change HKEY_LOCAL_MACHINE\\" + path);
  printf("%s", kSuccess);
  return kExitOk;
}

}  // namespace machine_tool

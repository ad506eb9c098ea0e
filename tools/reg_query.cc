// reg query, laid out as Windows' reg prints it: a blank line, the key, its
// values indented by four spaces ("name    TYPE    data"), a blank line,
// then the subkeys as full paths.
#include <cstdio>

#include "platform/posix/admin.h"
#include "tools/reg_common.h"
#include "tools/tool.h"
#include "util/multi_string.h"

namespace machine_tool {
namespace {

uint64_t LittleEndian(const std::string& data, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes && i < data.size(); ++i)
    value |= static_cast<uint64_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return value;
}

std::string HexBytes(const std::string& data) {
  std::string text;
  for (unsigned char byte : data) text += Format("%02X", byte);
  return text;
}

// The data column: strings up to their terminator, multi-strings joined by
// a literal "\0", numbers in hexadecimal, anything else as hex bytes.
std::string DataText(const emu::admin::RegValue& value) {
  const std::string& data = value.data;
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return data.substr(0, data.find('\0'));
    case REG_MULTI_SZ: {
      std::string body = data;
      while (!body.empty() && body.back() == '\0') body.pop_back();
      std::string text;
      const std::vector<std::string> items = SplitAtNul(body);
      for (size_t i = 0; i < items.size(); ++i) text += (i > 0 ? "\\0" : "") + items[i];
      return text;
    }
    case REG_DWORD:
      if (data.size() == 4) return Format("0x%x", static_cast<unsigned>(LittleEndian(data, 4)));
      break;
    case REG_QWORD:
      if (data.size() == 8) return Format("0x%llx", static_cast<unsigned long long>(LittleEndian(data, 8)));
      break;
  }
  return HexBytes(data);
}

void PrintValue(const emu::admin::RegValue& value) {
  printf("    %s    %s    %s\n", value.name.empty() ? "(Default)" : value.name.c_str(), RegTypeName(value.type),
         DataText(value).c_str());
}

// The key's values, then its subkeys. A key without values has no heading
// of its own, as reg prints it.
void PrintKey(const emu::admin::RegKey& key) {
  std::string name = FullKeyName(key.path);
  printf("\n");
  if (!key.values.empty()) {
    printf("%s\n", name.c_str());
    for (const emu::admin::RegValue& value : key.values) PrintValue(value);
    printf("\n");
  }
  for (const std::string& subkey : key.subkeys) printf("%s\\%s\n", name.c_str(), subkey.c_str());
}

}  // namespace

int RunRegQuery(const Context& ctx, const Args& args) {
  if (args.empty()) return Fail("'reg query' needs a key");
  std::string path, value_name;
  bool one_value = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (IsSwitch(args[i], "v")) {
      if (one_value || i + 1 >= args.size()) return Fail("'reg query' takes one value: /v NAME, /ve or NAME");
      value_name = args[++i];
      one_value = true;
    } else if (IsSwitch(args[i], "ve")) {
      if (one_value) return Fail("'reg query' takes one value: /v NAME, /ve or NAME");
      one_value = true;
    } else if (!one_value && args[i][0] != '/' && args[i][0] != '-') {
      value_name = args[i];
      one_value = true;
    } else {
      return Fail("unexpected argument '" + args[i] + "' for 'reg query'");
    }
  }
  if (!ParseKeyArgument(args[0], &path)) return kExitUsage;
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  emu::admin::RegKey key;
  if (!emu::admin::ReadKey(path, &key)) return ReportMissingKeyOrValue();
  if (!one_value) {
    PrintKey(key);
    return kExitOk;
  }
  emu::admin::RegValue value;
  if (!emu::admin::ReadValue(path, value_name, &value)) {
    if (!value_name.empty()) return ReportMissingKeyOrValue();
    // reg answers /ve on a key without a default value this way.
    printf("\n%s\n    (Default)    REG_SZ    (value not set)\n\n", FullKeyName(key.path).c_str());
    return kExitOk;
  }
  printf("\n%s\n", FullKeyName(key.path).c_str());
  PrintValue(value);
  printf("\n");
  return kExitOk;
}

}  // namespace machine_tool

#include "tools/reg_common.h"

#include <strings.h>

#include <cstdio>

#include "platform/posix/admin.h"
#include "tools/tool.h"

namespace machine_tool {
namespace {

const char* const kOtherHives[] = {"HKEY_CURRENT_USER", "HKCU", "HKEY_CLASSES_ROOT",   "HKCR",
                                   "HKEY_USERS",        "HKU",  "HKEY_CURRENT_CONFIG", "HKCC"};

struct TypeName {
  uint32_t type;
  const char* name;
};
const TypeName kTypes[] = {
    {REG_NONE, "REG_NONE"},     {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

}  // namespace

bool ParseKeyArgument(const std::string& text, std::string* path) {
  std::string rest = text;
  size_t slash = rest.find('\\');
  std::string first = rest.substr(0, slash);
  if (emu::EqualsNoCase(first, "HKEY_LOCAL_MACHINE") || emu::EqualsNoCase(first, "HKLM")) {
    rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
  } else {
    for (const char* hive : kOtherHives) {
      if (emu::EqualsNoCase(first, hive)) {
        Fail("only HKEY_LOCAL_MACHINE exists on an emulated machine, not " + first);
        return false;
      }
    }
  }
  while (!rest.empty() && rest.front() == '\\') rest.erase(0, 1);
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  *path = rest;
  return true;
}

std::string FullKeyName(const std::string& stored_path) {
  return stored_path.empty() ? "HKEY_LOCAL_MACHINE" : "HKEY_LOCAL_MACHINE\\" + stored_path;
}

const char* RegTypeName(uint32_t type) {
  for (const TypeName& entry : kTypes)
    if (entry.type == type) return entry.name;
  return "REG_UNKNOWN";
}

bool RegTypeOfName(const std::string& name, uint32_t* type) {
  for (const TypeName& entry : kTypes) {
    if (strcasecmp(entry.name, name.c_str()) == 0) {
      *type = entry.type;
      return true;
    }
  }
  return false;
}

bool IsSwitch(const std::string& arg, const char* name) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && strcasecmp(arg.c_str() + 1, name) == 0;
}

int ReportMissingKeyOrValue() {
  fprintf(stderr, "ERROR: The system was unable to find the specified registry key or value.\n");
  return kExitUsage;
}

}  // namespace machine_tool

// The .reg file format between regfile_parse.cc, regfile_write.cc and
// regfile.cc: a parsed file is a list of edits, applied in one transaction.
//
// The registry keeps the 8-bit strings the A calls store. A file in the
// "Windows Registry Editor Version 5.00" format spells string-typed hex data
// (hex(1), hex(2), hex(7)) in UTF-16LE, so those bytes are converted on the
// way in and out, one byte to one code unit (Latin-1; the tool's own texts
// are ASCII). "REGEDIT4" files carry the 8-bit bytes unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu::regfile {

struct Edit {
  enum Kind { kKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = kKey;
  int line = 0;
  std::string key;  // kKey, kDeleteKey: path below HKEY_LOCAL_MACHINE ("" for the root)
  std::string name;  // kSetValue, kDeleteValue ("" for the default value)
  uint32_t type = 0;
  std::string data;  // kSetValue: the bytes to store
};

// Parses a .reg text (8-bit, UTF-8 with BOM, or UTF-16LE with BOM; CRLF or
// LF). false with "line N: why" in *error on the first malformed line.
bool Parse(const std::string& text, std::vector<Edit>* edits, std::string* error);

// True for REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ, whose hex forms are
// UTF-16 in a version 5 file.
bool IsStringType(uint32_t type);
std::string ToUtf16(const std::string& bytes);
// false when the data has an odd length.
bool FromUtf16(const std::string& utf16, std::string* bytes);

// One value in regedit's notation, without the line end: "name"="text",
// dword:, hex:, hex(N):, with hex data wrapped at regedit's width.
std::string FormatValue(const std::string& name, uint32_t type, const std::string& data);

// Lines of the exported text end as regedit ends them.
constexpr const char* kLineEnd = "\r\n";

}  // namespace emu::regfile

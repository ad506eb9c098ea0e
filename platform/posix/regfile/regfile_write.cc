// Values in regedit's notation. A REG_SZ that is one line of text is shown as
// "text" whether or not its bytes end in a terminator, as regedit shows it
// (the tool writes its own values without one, regedit and imports with one);
// any other REG_SZ (an inner NUL, a line break) is shown as hex(1) so that
// importing it gives back the same bytes.
#include <cstdio>

#include "platform/posix/regfile/regfile.h"

namespace emu::regfile {
namespace {

// regedit starts a new line once a hex line has reached this column, so that
// no line, with its closing '\', passes 80 columns.
constexpr size_t kHexWrapColumn = 77;

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  out += Escape(text);
  out += '"';
  return out;
}

// The text of a one-line string value without its terminator, if it is one.
bool PlainText(const std::string& data, std::string* text) {
  size_t length = !data.empty() && data.back() == '\0' ? data.size() - 1 : data.size();
  for (size_t i = 0; i < length; ++i)
    if (data[i] == '\0' || data[i] == '\n' || data[i] == '\r') return false;
  *text = data.substr(0, length);
  return true;
}

std::string HexData(const std::string& prefix, uint32_t type, const std::string& bytes) {
  char tag[24];
  if (type == 3)
    snprintf(tag, sizeof tag, "hex:");
  else
    snprintf(tag, sizeof tag, "hex(%x):", static_cast<unsigned>(type));
  std::string out = prefix + tag;
  size_t column = out.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(bytes[i]));
    out += byte;
    column += 2;
    bool last = i + 1 == bytes.size();
    if (!last) {
      out += ',';
      ++column;
    }
    if (!last && column >= kHexWrapColumn) {
      out += std::string("\\") + kLineEnd + "  ";
      column = 2;
    }
  }
  return out;
}

}  // namespace

std::string ToUtf16(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    out += c;
    out += '\0';
  }
  return out;
}

bool FromUtf16(const std::string& utf16, std::string* bytes) {
  if (utf16.size() % 2) return false;
  bytes->clear();
  for (size_t i = 0; i < utf16.size(); i += 2) {
    unsigned unit = static_cast<unsigned char>(utf16[i]) | static_cast<unsigned char>(utf16[i + 1]) << 8;
    *bytes += unit < 0x100 ? static_cast<char>(unit) : '?';
  }
  return true;
}

std::string FormatValue(const std::string& name, uint32_t type, const std::string& data) {
  std::string prefix = "@=";
  if (!name.empty()) prefix = Quote(name) + "=";
  std::string text;
  if (type == 1 && PlainText(data, &text)) return prefix + Quote(text);
  if (type == 4 && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(data[i]);
    char text[16];
    snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
    return prefix + text;
  }
  return HexData(prefix, type, IsStringType(type) ? ToUtf16(data) : data);
}

}  // namespace emu::regfile

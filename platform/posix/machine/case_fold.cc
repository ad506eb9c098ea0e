// The case folding of names, as Windows compares registry keys, values,
// services and file names: for the whole character set, not ASCII alone.
// Windows converts an ANSI name to Unicode and upper-cases that. The
// emulation takes a name that is valid UTF-8 (how a Linux shell passes
// "café") as UTF-8 and upper-cases its characters by Unicode's simple
// mapping for the Latin, Greek and Cyrillic letters; any other name as
// bytes of the ANSI code page 1252 (é 0xE9 and É 0xC9 alike). Folded names
// are what rows are keyed and ordered by, so equal names sort together.
#include <cstdint>
#include <string>

#include "platform/posix/admin.h"

namespace emu {
namespace {

// The upper case of a code point by Unicode's simple mapping, for the
// scripts names are written in; any other code point is its own.
uint32_t UpperCodePoint(uint32_t c) {
  auto pairs = [c](uint32_t first, uint32_t last, bool upper_even) -> uint32_t {
    // Alternating upper and lower case: the lower one is the odd (or even) one.
    if (c < first || c > last) return 0;
    bool even = (c % 2) == 0;
    return even == upper_even ? c : c - 1;
  };
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 0x20 : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0x131) return 'I';
  if (c == 0x17F) return 'S';
  if (c >= 0x100 && c <= 0x12F) return pairs(0x100, 0x12F, true);
  if (c >= 0x132 && c <= 0x137) return pairs(0x132, 0x137, true);
  if (c >= 0x139 && c <= 0x148) return pairs(0x139, 0x148, false);
  if (c >= 0x14A && c <= 0x177) return pairs(0x14A, 0x177, true);
  if (c >= 0x179 && c <= 0x17E) return pairs(0x179, 0x17E, false);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0x460 && c <= 0x481) return pairs(0x460, 0x481, true);
  if (c >= 0x48A && c <= 0x4BF) return pairs(0x48A, 0x4BF, true);
  if (c >= 0x4C1 && c <= 0x4CE) return pairs(0x4C1, 0x4CE, false);
  if (c == 0x4CF) return 0x4C0;
  if (c >= 0x4D0 && c <= 0x52F) return pairs(0x4D0, 0x52F, true);
  return c;
}

// Decodes one UTF-8 sequence at text[*i] (shortest form, no surrogates);
// false when the bytes there are not one.
bool DecodeUtf8(const std::string& text, size_t* i, uint32_t* code_point) {
  auto byte = [&text](size_t at) { return static_cast<unsigned char>(text[at]); };
  unsigned char lead = byte(*i);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || *i + length > text.size()) return false;
  uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(*i + k) & 0xC0) != 0x80) return false;
    c = (c << 6) | (byte(*i + k) & 0x3F);
  }
  static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  *i += length;
  *code_point = c;
  return true;
}

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Code page 1252's letters: the Latin-1 ones as in Unicode, and the three
// pairs it places in 0x80..0x9F (Š š, Œ œ, Ž ž) with ÿ's capital Ÿ.
unsigned char UpperCp1252(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

}  // namespace

std::string Upper(std::string text) {
  bool ascii = true;
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  }
  if (ascii) return text;
  std::string folded;
  folded.reserve(text.size());
  uint32_t code_point = 0;
  for (size_t i = 0; i < text.size();) {
    if (!DecodeUtf8(text, &i, &code_point)) {
      for (char& c : text) c = static_cast<char>(UpperCp1252(static_cast<unsigned char>(c)));
      return text;
    }
    AppendUtf8(UpperCodePoint(code_point), &folded);
  }
  return folded;
}

bool EqualsNoCase(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

}  // namespace emu

// Reading .reg files the way regedit does: a header line, then key lines
// ("[KEY]", "[-KEY]") each followed by its value lines ("name"=data, @=data,
// "name"=-), with ';' comments and hex data continued over lines ending in
// '\'. Anything regedit would not understand is refused with the line it is
// on, so a typo in a test's seed never passes unnoticed.
#include <cctype>
#include <cstdio>

#include "platform/posix/admin.h"
#include "platform/posix/regfile/regfile.h"
#include "platform/posix/registry/registry_store.h"

namespace emu::regfile {
namespace {

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";

struct Line {
  int number;
  std::string text;
};

// The file as 8-bit lines: a UTF-16LE file (what regedit writes) is narrowed
// code unit by code unit, anything beyond Latin-1 becoming '?', as the A
// calls would see it.
bool SplitLines(const std::string& raw, std::vector<Line>* lines, std::string* error) {
  std::string text;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    if (raw.size() % 2) {
      *error = "the UTF-16 text ends in half a character";
      return false;
    }
    for (size_t i = 2; i < raw.size(); i += 2) {
      unsigned unit = static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8;
      text += unit < 0x100 ? static_cast<char>(unit) : '?';
    }
  } else if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = raw.substr(3);
  } else {
    text = raw;
  }
  size_t start = 0;
  int number = 1;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(Line{number++, line});
    start = end + 1;
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t SkipBlanks(const std::string& s, size_t pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  return pos;
}

// Only blanks or a comment may follow the data on its line.
bool RestIsEmpty(const std::string& s, size_t pos) {
  pos = SkipBlanks(s, pos);
  return pos == s.size() || s[pos] == ';';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(std::vector<Line> lines, std::vector<Edit>* edits) : lines_(std::move(lines)), edits_(edits) {}

  bool Run(std::string* error) {
    size_t i = 0;
    while (i < lines_.size() && lines_[i].text.find_first_not_of(" \t") == std::string::npos) ++i;
    if (i == lines_.size()) return Fail(lines_.empty() ? 1 : lines_.back().number, "the file is empty", error);
    std::string header = lines_[i].text;
    while (!header.empty() && IsBlank(header.back())) header.pop_back();
    if (header == kHeader5) {
      unicode_ = true;
    } else if (header != kHeader4) {
      return Fail(lines_[i].number, std::string("not a registry file: expected \"") + kHeader5 + "\" or \"" +
                                        kHeader4 + "\"",
                  error);
    }
    for (index_ = i + 1; index_ < lines_.size(); ++index_) {
      const Line& line = lines_[index_];
      size_t pos = SkipBlanks(line.text, 0);
      if (pos == line.text.size() || line.text[pos] == ';') continue;
      std::string why;
      bool ok = line.text[pos] == '['                              ? ParseKey(line, pos, &why)
                : line.text[pos] == '"' || line.text[pos] == '@' ? ParseValue(line, pos, &why)
                                                                   : (why = "not a key, value or comment line", false);
      if (!ok) return Fail(lines_[index_].number, why, error);
    }
    return true;
  }

 private:
  static bool Fail(int number, const std::string& why, std::string* error) {
    *error = "line " + std::to_string(number) + ": " + why;
    return false;
  }

  bool ParseKey(const Line& line, size_t pos, std::string* why) {
    size_t close = line.text.rfind(']');
    if (close == std::string::npos || close < pos) return (*why = "key line without a closing ']'", false);
    if (SkipBlanks(line.text, close + 1) != line.text.size()) return (*why = "text after the key's ']'", false);
    std::string inner = line.text.substr(pos + 1, close - pos - 1);
    bool remove = !inner.empty() && inner[0] == '-';
    if (remove) inner.erase(0, 1);
    std::string path;
    if (!KeyPath(inner, &path, why)) return false;
    if (remove && path.empty()) return (*why = "HKEY_LOCAL_MACHINE itself cannot be deleted", false);
    Edit edit;
    edit.kind = remove ? Edit::kDeleteKey : Edit::kKey;
    edit.line = line.number;
    edit.key = path;
    edits_->push_back(edit);
    in_key_ = !remove;
    after_delete_ = remove;
    return true;
  }

  // "HKEY_LOCAL_MACHINE\A\B" or "HKLM\A\B" as "A\B".
  static bool KeyPath(const std::string& full, std::string* path, std::string* why) {
    size_t slash = full.find('\\');
    std::string root = full.substr(0, slash);
    if (!EqualsNoCase(root, "HKEY_LOCAL_MACHINE") && !EqualsNoCase(root, "HKLM"))
      return (*why = "only HKEY_LOCAL_MACHINE keys can be imported, not '" + root + "'", false);
    if (slash == std::string::npos) return true;
    std::string rest = full.substr(slash + 1);
    if (!rest.empty() && rest.back() == '\\') rest.pop_back();  // regedit ignores one trailing '\'
    if (rest.empty()) return true;
    if (!admin::CheckKeyPath(rest, full, why)) return false;
    *path = rest;
    return true;
  }

  // A quoted text with regedit's escapes \\ and \"; pos is at the opening quote.
  static bool Quoted(const std::string& s, size_t* pos, std::string* out, std::string* why) {
    for (size_t i = *pos + 1; i < s.size(); ++i) {
      if (s[i] == '"') {
        *pos = i + 1;
        return true;
      }
      if (s[i] == '\\') {
        if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
          return (*why = "unknown escape in a quoted text (only \\\\ and \\\" are understood)", false);
        ++i;
      }
      *out += s[i];
    }
    return (*why = "quoted text without its closing '\"'", false);
  }

  bool ParseValue(const Line& line, size_t pos, std::string* why) {
    const std::string& s = line.text;
    Edit edit;
    edit.line = line.number;
    if (s[pos] == '@') {
      ++pos;
    } else if (!Quoted(s, &pos, &edit.name, why)) {
      return false;
    }
    pos = SkipBlanks(s, pos);
    if (pos >= s.size() || s[pos] != '=') return (*why = "expected '=' after the value name", false);
    pos = SkipBlanks(s, pos + 1);
    if (after_delete_) return (*why = "value line under a deleted key", false);
    if (!in_key_) return (*why = "value line before any key line", false);
    if (pos < s.size() && s[pos] == '-') {
      if (!RestIsEmpty(s, pos + 1)) return (*why = "text after '-'", false);
      edit.kind = Edit::kDeleteValue;
    } else if (pos < s.size() && s[pos] == '"') {
      std::string text;
      if (!Quoted(s, &pos, &text, why)) return false;
      if (!RestIsEmpty(s, pos)) return (*why = "text after the quoted data", false);
      edit.kind = Edit::kSetValue;
      edit.type = 1;
      edit.data = text + '\0';  // regedit stores strings with their terminator
    } else if (StartsWithNoCase(s, pos, "dword:")) {
      if (!Dword(s, pos + 6, &edit.data, why)) return false;
      edit.kind = Edit::kSetValue;
      edit.type = 4;
    } else if (StartsWithNoCase(s, pos, "hex")) {
      if (!HexValue(pos + 3, &edit, why)) return false;
      edit.kind = Edit::kSetValue;
    } else {
      return (*why = "unrecognised value data (expected \"text\", -, dword:, hex: or hex(N):)", false);
    }
    edits_->push_back(edit);
    return true;
  }

  static bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
      if (pos + i >= s.size() || tolower(static_cast<unsigned char>(s[pos + i])) != prefix[i]) return false;
    return true;
  }

  static bool Dword(const std::string& s, size_t pos, std::string* data, std::string* why) {
    uint32_t value = 0;
    size_t digits = 0;
    for (; pos < s.size() && HexDigit(s[pos]) >= 0; ++pos, ++digits) value = value << 4 | HexDigit(s[pos]);
    if (digits == 0 || digits > 8) return (*why = "dword: needs one to eight hex digits", false);
    if (!RestIsEmpty(s, pos)) return (*why = "text after the dword", false);
    data->clear();
    for (int i = 0; i < 4; ++i) *data += static_cast<char>(value >> (8 * i) & 0xFF);
    return true;
  }

  // "hex:" or "hex(N):" and the bytes, over continuation lines; pos is just
  // after "hex".
  bool HexValue(size_t pos, Edit* edit, std::string* why) {
    const std::string* s = &lines_[index_].text;
    edit->type = 3;
    if (pos < s->size() && (*s)[pos] == '(') {
      uint32_t type = 0;
      size_t digits = 0;
      for (++pos; pos < s->size() && HexDigit((*s)[pos]) >= 0; ++pos, ++digits) type = type << 4 | HexDigit((*s)[pos]);
      if (digits == 0 || digits > 8 || pos >= s->size() || (*s)[pos] != ')')
        return (*why = "hex(N): needs a hex type number", false);
      edit->type = type;
      ++pos;
    }
    if (pos >= s->size() || (*s)[pos] != ':') return (*why = "expected ':' after hex", false);
    ++pos;
    std::string bytes;
    for (;;) {
      pos = SkipBlanks(*s, pos);
      if (pos >= s->size() || (*s)[pos] == ';') break;
      if ((*s)[pos] == '\\') {
        if (SkipBlanks(*s, pos + 1) != s->size()) return (*why = "text after the continuation '\\'", false);
        if (!NextDataLine()) return (*why = "the hex data continues past the end of the file", false);
        s = &lines_[index_].text;
        pos = 0;
        continue;
      }
      int high = HexDigit((*s)[pos]);
      if (high < 0) return (*why = "bad hex byte '" + s->substr(pos, 2) + "'", false);
      int value = high;
      ++pos;
      if (pos < s->size() && HexDigit((*s)[pos]) >= 0) value = value << 4 | HexDigit((*s)[pos++]);
      bytes += static_cast<char>(value);
      pos = SkipBlanks(*s, pos);
      if (pos < s->size() && (*s)[pos] == ',') {
        ++pos;
      } else if (pos < s->size() && (*s)[pos] != '\\' && (*s)[pos] != ';') {
        return (*why = "expected ',' between hex bytes", false);
      }
    }
    if (unicode_ && IsStringType(edit->type)) {
      if (!FromUtf16(bytes, &edit->data)) return (*why = "string data of odd length is not UTF-16", false);
    } else {
      edit->data = bytes;
    }
    return true;
  }

  // The next line of continued data; comment lines between are skipped.
  bool NextDataLine() {
    while (++index_ < lines_.size()) {
      size_t pos = SkipBlanks(lines_[index_].text, 0);
      if (pos < lines_[index_].text.size() && lines_[index_].text[pos] == ';') continue;
      return true;
    }
    --index_;
    return false;
  }

  std::vector<Line> lines_;
  std::vector<Edit>* edits_;
  size_t index_ = 0;
  bool unicode_ = false;
  bool in_key_ = false;
  bool after_delete_ = false;
};

}  // namespace

bool IsStringType(uint32_t type) { return type == 1 || type == 2 || type == 7; }

bool Parse(const std::string& text, std::vector<Edit>* edits, std::string* error) {
  std::vector<Line> lines;
  if (!SplitLines(text, &lines, error)) return false;
  edits->clear();
  return Parser(std::move(lines), edits).Run(error);
}

}  // namespace emu::regfile

namespace emu::admin {

bool CheckKeyPath(const std::string& path, const std::string& shown, std::string* why) {
  constexpr size_t kMaxKeyNameLength = 255;
  if (path.empty()) return (*why = "a key below HKEY_LOCAL_MACHINE is needed, not '" + shown + "'", false);
  for (size_t start = 0;;) {
    size_t end = path.find('\\', start);
    size_t length = (end == std::string::npos ? path.size() : end) - start;
    if (length == 0) return (*why = "empty key name in '" + shown + "'", false);
    if (length > kMaxKeyNameLength) return (*why = "key name longer than 255 characters", false);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

}  // namespace emu::admin

#include "status/json_text.h"

#include <cstdio>

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string JsonStringOrNull(bool present, const std::string& text) { return present ? JsonString(text) : "null"; }

std::string JsonStringList(const std::vector<std::string>& texts) {
  std::string json = "[";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) json += ',';
    json += JsonString(texts[i]);
  }
  return json + "]";
}

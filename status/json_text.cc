#include "status/json_text.h"

std::string JsonStringOrNull(bool present, const std::string& text) { return present ? JsonString(text) : "null"; }

std::string JsonStringList(const std::vector<std::string>& texts) {
  std::string json = "[";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) json += ',';
    json += JsonString(texts[i]);
  }
  return json + "]";
}

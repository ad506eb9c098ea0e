#include "component/component_text.h"

#include <cstdarg>
#include <cstdio>

#include "component/component_keys.h"

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[kTextBufferSize];
  int needed = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (needed < 0) {
    va_end(again);
    return text;
  }
  if (static_cast<size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<size_t>(needed));
  } else {
    text.resize(static_cast<size_t>(needed) + 1);
    vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(needed));
  }
  va_end(again);
  return text;
}

bool FormReferenceKeyPath(const char* reference_name, std::string* key_path) {
  *key_path = FormatText(kKotaReferenceKeyFormat, reference_name);
  return FitsTextBuffer(*key_path);
}

// The emulated machine a fuzz target runs on: one machine in a temporary
// directory for the whole run, with a virtual clock, its standard output sent
// to /dev/null (the usage text and the report are printed thousands of
// times a second), and removed at exit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

namespace fuzzing {

// Creates the machine on first use and makes it the process's current one.
void UseFuzzMachine();

// A little-endian reader of the fuzz input, front to back; reads past the
// end give zeros and empty texts.
class InputReader {
 public:
  InputReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  unsigned Byte() { return at_ < size_ ? data_[at_++] : 0; }
  unsigned Word() { return Byte() | (Byte() << 8); }
  std::string Bytes(size_t count) {
    count = std::min(count, size_ - std::min(at_, size_));
    std::string text(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return text;
  }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace fuzzing

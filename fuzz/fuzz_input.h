// Reading a fuzzer's input as a sequence of small fields; a field past the end reads as zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zorfuzz {

class Input {
public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  size_t Left() const { return Empty() ? 0 : size_ - at_; }

  uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  uint16_t Word() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }
  // The next count bytes, fewer at the end.
  std::string_view Bytes(size_t count) {
    if (count > Left()) count = Left();
    std::string_view bytes(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return bytes;
  }
  std::string_view Rest() { return Bytes(Left()); }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace zorfuzz

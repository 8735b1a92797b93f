// ByteReader: bounds-checked reading of little- and big-endian numbers from
// an untrusted buffer. Every read past the end fails and stays failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zentrope {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  std::size_t pos() const { return pos_; }
  std::size_t size() const { return size_; }
  std::size_t remaining() const { return ok_ ? size_ - pos_ : 0; }
  const std::uint8_t* here() const { return data_ + pos_; }

  bool Seek(std::size_t p) {
    if (p > size_) {
      ok_ = false;
      return false;
    }
    pos_ = p;
    return ok_;
  }
  bool Skip(std::size_t n) { return n <= remaining() ? Seek(pos_ + n) : (ok_ = false); }

  std::uint8_t U8() {
    if (remaining() < 1) {
      ok_ = false;
      return 0;
    }
    return data_[pos_++];
  }
  std::uint16_t U16LE() {
    const std::uint16_t lo = U8();
    return static_cast<std::uint16_t>(lo | (U8() << 8));
  }
  std::uint32_t U32LE() {
    const std::uint32_t lo = U16LE();
    return lo | (static_cast<std::uint32_t>(U16LE()) << 16);
  }
  std::uint16_t U16BE() {
    const std::uint16_t hi = U8();
    return static_cast<std::uint16_t>((hi << 8) | U8());
  }
  std::uint32_t U32BE() {
    const std::uint32_t hi = U16BE();
    return (hi << 16) | U16BE();
  }
  bool Bytes(void* out, std::size_t n) {
    if (n > remaining()) {
      ok_ = false;
      return false;
    }
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace zentrope

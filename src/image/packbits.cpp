// PackBits run-length decoding, shared by PICT and IFF ILBM.
#include "image/byte_reader.h"
#include "image/decoders.h"

namespace zentrope {

bool UnpackBits(ByteReader& in, std::size_t end, std::uint8_t* out, std::size_t outSize) {
  if (end > in.size()) {
    return false;
  }
  std::size_t n = 0;
  while (n < outSize) {
    if (!in.ok() || in.pos() >= end) {
      return false;
    }
    const auto count = static_cast<std::int8_t>(in.U8());
    if (count >= 0) {
      const std::size_t literal = static_cast<std::size_t>(count) + 1;
      if (literal > outSize - n || in.pos() + literal > end || !in.Bytes(out + n, literal)) {
        return false;
      }
      n += literal;
    } else if (count != -128) {
      const std::size_t repeat = static_cast<std::size_t>(1 - count);
      if (repeat > outSize - n || in.pos() >= end) {
        return false;
      }
      const std::uint8_t v = in.U8();
      for (std::size_t i = 0; i < repeat; ++i) {
        out[n++] = v;
      }
    }
  }
  return in.ok();
}

}  // namespace zentrope

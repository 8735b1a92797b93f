// Macintosh PICT (version 2): the PackBits indexed (0x0098, 0x0099) and
// direct-colour (0x009A, 0x009B) bitmap opcodes drawn onto a canvas the size
// of the picture frame; the common drawing-state opcodes are skipped.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/byte_reader.h"
#include "image/decoders.h"

namespace zentrope {

namespace {

struct Rect {
  int top = 0, left = 0, bottom = 0, right = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

Rect ReadRect(ByteReader& r) {
  Rect rect;
  rect.top = static_cast<std::int16_t>(r.U16BE());
  rect.left = static_cast<std::int16_t>(r.U16BE());
  rect.bottom = static_cast<std::int16_t>(r.U16BE());
  rect.right = static_cast<std::int16_t>(r.U16BE());
  return rect;
}

// Data sizes of opcodes that carry no picture.
int FixedSize(std::uint16_t op) {
  switch (op) {
    case 0x0000:
    case 0x001E:
    case 0x0002:
      return op == 0x0002 ? 8 : 0;
    case 0x0003:
    case 0x0005:
    case 0x0008:
    case 0x000D:
    case 0x0015:
    case 0x0016:
    case 0x00A0:
      return 2;
    case 0x0004:
    case 0x0006:
      return op == 0x0004 ? 2 : 4;  // TxFace is padded
    case 0x0007:
    case 0x000B:
    case 0x000C:
    case 0x000E:
    case 0x000F:
      return 4;
    case 0x0009:
    case 0x000A:
    case 0x0010:
      return 8;
    case 0x001A:
    case 0x001B:
    case 0x001D:
    case 0x001F:
      return 6;
    case 0x0C00:
      return 24;
    default:
      return -1;
  }
}

class PictDecoder {
 public:
  PictDecoder(const std::uint8_t* data, std::size_t size, Image& out, std::string* error)
      : r_(data, size), size_(size), out_(out), error_(error) {}

  bool Run(bool headerOnly) {
    r_.Seek(512 + 2);
    frame_ = ReadRect(r_);
    if (r_.U32BE() != 0x001102FF) {
      return DecodeFailure(error_, "not a version 2 PICT");
    }
    const int width = frame_.Width(), height = frame_.Height();
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
      return DecodeFailure(error_, "PICT frame out of range");
    }
    if (headerOnly) {
      out_.width = static_cast<std::int16_t>(width);
      out_.height = static_cast<std::int16_t>(height);
      out_.bytesPerPixel = 3;
      out_.format = ImageFormat::kPict;
      return true;
    }
    bool drawn = false;
    while (r_.ok()) {
      if (r_.pos() & 1) {
        r_.Skip(1);  // opcodes start on even bytes
      }
      const std::uint16_t op = r_.U16BE();
      if (!r_.ok()) {
        break;
      }
      if (op == 0x00FF) {
        return drawn ? true : DecodeFailure(error_, "PICT without a picture");
      }
      if (op >= 0x0098 && op <= 0x009B) {
        if (!drawn && !Canvas(width, height)) {
          return false;
        }
        drawn = true;
        if (!Bits(op)) {
          return false;
        }
        continue;
      }
      if (op == 0x0001) {
        const std::uint16_t regionSize = r_.U16BE();
        if (regionSize < 2 || !r_.Skip(regionSize - 2u)) {
          return DecodeFailure(error_, "bad PICT clip region");
        }
        continue;
      }
      if (op == 0x00A1) {
        r_.U16BE();
        const std::uint16_t length = r_.U16BE();
        r_.Skip(length);
        continue;
      }
      const int fixed = FixedSize(op);
      if (fixed < 0) {
        return DecodeFailure(error_, "unsupported PICT opcode");
      }
      r_.Skip(static_cast<std::size_t>(fixed));
    }
    return drawn ? true : DecodeFailure(error_, "truncated PICT");
  }

 private:
  bool Canvas(int width, int height) {
    // Every pixel of the frame is either drawn from the file's bitmaps (a
    // run-length byte pair gives at most 128 bytes of 1-bit pixels, 512
    // pixels a byte) or left blank, so a frame far larger than its file
    // can fill is refused before the canvas is allocated. Small frames
    // (4 million pixels) are always allowed.
    constexpr std::uint64_t kAlwaysAllowed = 4u << 20;
    const std::uint64_t area =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (area > kAlwaysAllowed && area > 1032u * static_cast<std::uint64_t>(size_)) {
      return DecodeFailure(error_, "PICT frame larger than its file can fill");
    }
    if (!out_.Allocate(width, height, 3)) {
      return DecodeFailure(error_, "Can't Allocate Image");
    }
    out_.format = ImageFormat::kPict;
    return true;
  }

  void Put(const Rect& dst, int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    const int cx = dst.left - frame_.left + x;
    const int cy = dst.top - frame_.top + y;
    if (cx >= 0 && cy >= 0 && cx < out_.width && cy < out_.height) {
      out_.SetBgra(cx, cy, blue, green, red);
    }
  }

  // One row of packed or plain data into row (rowBytes long).
  bool Row(std::size_t rowBytes, std::uint8_t* row) {
    if (rowBytes < 8) {
      return r_.Bytes(row, rowBytes);
    }
    const std::size_t count = rowBytes > 250 ? r_.U16BE() : r_.U8();
    if (!r_.ok() || count > r_.remaining()) {
      return false;
    }
    const std::size_t end = r_.pos() + count;
    return UnpackBits(r_, end, row, rowBytes) && r_.Seek(end);
  }

  bool Bits(std::uint16_t op) {
    const bool direct = op >= 0x009A;
    if (direct) {
      r_.Skip(4);  // base address
    }
    const std::uint16_t rowWord = r_.U16BE();
    const bool pixmap = (rowWord & 0x8000) != 0;
    const std::size_t rowBytes = rowWord & 0x3FFF;
    const Rect bounds = ReadRect(r_);
    int pixelSize = 1, packType = 0, components = 1;
    std::uint8_t palette[256][3] = {{255, 255, 255}};
    palette[1][0] = palette[1][1] = palette[1][2] = 0;  // a bitmap: 0 white, 1 black
    if (pixmap) {
      r_.Skip(2);  // version
      packType = r_.U16BE();
      r_.Skip(4 + 8 + 2);  // pack size, resolution, pixel type
      pixelSize = r_.U16BE();
      components = r_.U16BE();
      r_.Skip(2 + 4 + 4 + 4);  // component size, plane bytes, table, reserved
      if (!direct) {
        r_.Skip(4);
        const std::uint16_t flags = r_.U16BE();
        const int entries = r_.U16BE() + 1;
        for (int i = 0; i < entries && r_.ok(); ++i) {
          int value = r_.U16BE();
          if (flags & 0x8000) {
            value = i;
          }
          const std::uint8_t red = static_cast<std::uint8_t>(r_.U16BE() >> 8);
          const std::uint8_t green = static_cast<std::uint8_t>(r_.U16BE() >> 8);
          const std::uint8_t blue = static_cast<std::uint8_t>(r_.U16BE() >> 8);
          if (value >= 0 && value < 256) {
            palette[value][0] = red;
            palette[value][1] = green;
            palette[value][2] = blue;
          }
        }
      }
    }
    ReadRect(r_);  // source
    const Rect dst = ReadRect(r_);
    r_.Skip(2);  // transfer mode
    if (op == 0x0099 || op == 0x009B) {
      const std::uint16_t regionSize = r_.U16BE();
      if (regionSize < 2) {
        return DecodeFailure(error_, "bad PICT mask region");
      }
      r_.Skip(regionSize - 2u);
    }
    const int width = bounds.Width(), height = bounds.Height();
    if (!r_.ok() || width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
      return DecodeFailure(error_, "bad PICT bitmap header");
    }
    const bool indexed =
        !direct && (pixelSize == 1 || pixelSize == 2 || pixelSize == 4 || pixelSize == 8);
    const bool direct16 = direct && pixelSize == 16;
    const bool direct32 = direct && pixelSize == 32 && (components == 3 || components == 4);
    if (!indexed && !direct16 && !direct32) {
      return DecodeFailure(error_, "unsupported PICT pixel format");
    }
    const std::size_t minRow =
        (static_cast<std::size_t>(width) * static_cast<std::size_t>(pixelSize) + 7) / 8;
    const bool planar = direct32 && packType == 4;
    const std::size_t needed =
        planar ? static_cast<std::size_t>(width) * components
               : (direct32 && packType == 2 ? static_cast<std::size_t>(width) * 3 : minRow);
    if (rowBytes < minRow && !(direct32 && packType == 2)) {
      return DecodeFailure(error_, "PICT rows shorter than the picture");
    }
    // Every row takes at least one byte of the file.
    if (static_cast<std::size_t>(height) > r_.remaining()) {
      return DecodeFailure(error_, "PICT data shorter than its picture");
    }
    std::vector<std::uint8_t> row(std::max(rowBytes, needed));
    for (int y = 0; y < height; ++y) {
      bool ok;
      if (planar && rowBytes >= 8) {
        const std::size_t count = rowBytes > 250 ? r_.U16BE() : r_.U8();
        const std::size_t end = r_.pos() + count;
        ok = r_.ok() && count <= r_.remaining() && UnpackBits(r_, end, row.data(), needed) &&
             r_.Seek(end);
      } else if (direct16 && packType == 3 && rowBytes >= 8) {
        ok = Words(rowBytes, row.data());
      } else if (direct32 && packType == 2) {
        ok = r_.Bytes(row.data(), needed);
      } else if (direct && packType == 1) {
        ok = r_.Bytes(row.data(), rowBytes);
      } else {
        ok = Row(rowBytes, row.data());
      }
      if (!ok) {
        return DecodeFailure(error_, "bad PICT pixel data");
      }
      for (int x = 0; x < width; ++x) {
        const auto ux = static_cast<std::size_t>(x);
        if (indexed) {
          const int shift = 8 - pixelSize - (x * pixelSize) % 8;
          const int index = (row[ux * pixelSize / 8] >> shift) & ((1 << pixelSize) - 1);
          Put(dst, x, y, palette[index][0], palette[index][1], palette[index][2]);
        } else if (direct16) {
          const unsigned v = (row[ux * 2] << 8) | row[ux * 2 + 1];
          Put(dst, x, y, static_cast<std::uint8_t>(((v >> 10) & 31) * 8),
              static_cast<std::uint8_t>(((v >> 5) & 31) * 8),
              static_cast<std::uint8_t>((v & 31) * 8));
        } else if (planar) {
          const std::size_t skip = components == 4 ? static_cast<std::size_t>(width) : 0;
          Put(dst, x, y, row[skip + ux], row[skip + static_cast<std::size_t>(width) + ux],
              row[skip + 2 * static_cast<std::size_t>(width) + ux]);
        } else if (packType == 2) {
          Put(dst, x, y, row[ux * 3], row[ux * 3 + 1], row[ux * 3 + 2]);
        } else {
          Put(dst, x, y, row[ux * 4 + 1], row[ux * 4 + 2], row[ux * 4 + 3]);
        }
      }
    }
    return true;
  }

  // PackBits over 16-bit words.
  bool Words(std::size_t rowBytes, std::uint8_t* row) {
    const std::size_t count = rowBytes > 250 ? r_.U16BE() : r_.U8();
    if (!r_.ok() || count > r_.remaining()) {
      return false;
    }
    const std::size_t end = r_.pos() + count;
    std::size_t n = 0;
    while (n < rowBytes) {
      if (r_.pos() >= end) {
        return false;
      }
      const auto c = static_cast<std::int8_t>(r_.U8());
      const std::size_t words =
          c >= 0 ? static_cast<std::size_t>(c) + 1 : static_cast<std::size_t>(1 - c);
      if (words * 2 > rowBytes - n) {
        return false;
      }
      if (c >= 0) {
        if (!r_.Bytes(row + n, words * 2)) {
          return false;
        }
        n += words * 2;
      } else {
        const std::uint8_t hi = r_.U8(), lo = r_.U8();
        for (std::size_t i = 0; i < words; ++i) {
          row[n++] = hi;
          row[n++] = lo;
        }
      }
    }
    return r_.ok() && r_.Seek(end);
  }

  ByteReader r_;
  std::size_t size_;
  Image& out_;
  std::string* error_;
  Rect frame_;
};

}  // namespace

bool DecodePict(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
                std::string* error) {
  if (size < 512 + 14) {
    return DecodeFailure(error, "not a PICT file");
  }
  return PictDecoder(data, size, out, error).Run(headerOnly);
}

}  // namespace zentrope

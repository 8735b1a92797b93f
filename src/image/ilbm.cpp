// IFF ILBM: planar bitplanes, optionally ByteRun1-packed, with a CMAP
// palette for up to 8 planes and direct colour for 24.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/byte_reader.h"
#include "image/decoders.h"

namespace zentrope {

namespace {}  // namespace

bool DecodeIlbm(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
                std::string* error) {
  if (size < 12 || std::memcmp(data, "FORM", 4) != 0 || std::memcmp(data + 8, "ILBM", 4) != 0) {
    return DecodeFailure(error, "not an IFF ILBM file");
  }
  ByteReader r(data, size);
  r.Seek(12);
  int width = 0, height = 0, planes = 0, masking = 0, compression = 0;
  bool haveHeader = false;
  std::vector<std::uint8_t> cmap;
  std::size_t bodyStart = 0, bodyEnd = 0;
  while (r.remaining() >= 8) {
    char id[4];
    r.Bytes(id, 4);
    const std::uint32_t length = r.U32BE();
    if (length > r.remaining()) {
      return DecodeFailure(error, "IFF chunk runs past the file");
    }
    const std::size_t start = r.pos();
    if (std::memcmp(id, "BMHD", 4) == 0 && length >= 20) {
      width = r.U16BE();
      height = r.U16BE();
      r.Skip(4);
      planes = r.U8();
      masking = r.U8();
      compression = r.U8();
      haveHeader = true;
    } else if (std::memcmp(id, "CMAP", 4) == 0) {
      cmap.assign(r.here(), r.here() + length);
    } else if (std::memcmp(id, "BODY", 4) == 0) {
      bodyStart = start;
      bodyEnd = start + length;
    }
    r.Seek(start + length + (length & 1));
    if (!r.ok()) {
      break;  // a missing pad byte after the last chunk
    }
  }
  if (!haveHeader) {
    return DecodeFailure(error, "IFF ILBM without BMHD");
  }
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
    return DecodeFailure(error, "ILBM picture size out of range");
  }
  if (!((planes >= 1 && planes <= 8) || planes == 24) || compression > 1) {
    return DecodeFailure(error, "unsupported ILBM depth or compression");
  }
  const int bpp = planes == 24 ? 3 : 1;
  if (headerOnly) {
    out.width = static_cast<std::int16_t>(width);
    out.height = static_cast<std::int16_t>(height);
    out.bytesPerPixel = bpp;
    out.format = ImageFormat::kIlbm;
    return true;
  }
  if (bodyEnd == 0) {
    return DecodeFailure(error, "IFF ILBM without BODY");
  }
  const std::size_t rowBytes = static_cast<std::size_t>((width + 15) / 16) * 2;
  const int stored = planes + (masking == 1 ? 1 : 0);
  const std::size_t total =
      rowBytes * static_cast<std::size_t>(stored) * static_cast<std::size_t>(height);
  if (total > (bodyEnd - bodyStart) * (compression ? 128 : 1)) {
    return DecodeFailure(error, "ILBM BODY shorter than its picture");
  }
  if (!out.Allocate(width, height, bpp)) {
    return DecodeFailure(error, "Can't Allocate Image");
  }
  out.format = ImageFormat::kIlbm;
  if (bpp == 1) {
    out.hasPalette = true;
    const std::size_t colours = std::min<std::size_t>(cmap.size() / 3, 256);
    for (std::size_t i = 0; i < 256; ++i) {
      if (i < colours) {
        out.palette[i * 3] = cmap[i * 3 + 2];
        out.palette[i * 3 + 1] = cmap[i * 3 + 1];
        out.palette[i * 3 + 2] = cmap[i * 3];
      } else {
        // No CMAP entry: a grey ramp over the planes' range.
        const std::size_t top = (std::size_t{1} << planes) - 1;
        const auto v = static_cast<std::uint8_t>(std::min<std::size_t>(255, i * 255 / top));
        out.palette[i * 3] = out.palette[i * 3 + 1] = out.palette[i * 3 + 2] = v;
      }
    }
  }
  ByteReader body(data, bodyEnd);
  body.Seek(bodyStart);
  std::vector<std::uint8_t> plane(rowBytes);
  std::vector<std::uint32_t> values(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    std::fill(values.begin(), values.end(), 0u);
    for (int p = 0; p < stored; ++p) {
      const bool ok = compression ? UnpackBits(body, bodyEnd, plane.data(), rowBytes)
                                  : body.Bytes(plane.data(), rowBytes);
      if (!ok) {
        return DecodeFailure(error, "bad ILBM BODY");
      }
      if (p >= planes) {
        continue;  // the mask plane
      }
      for (int x = 0; x < width; ++x) {
        const unsigned bit = (plane[static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1u;
        values[static_cast<std::size_t>(x)] |= bit << p;
      }
    }
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = values[static_cast<std::size_t>(x)];
      if (bpp == 1) {
        out.Plane(y, 0)[x] = static_cast<std::uint8_t>(v);
      } else {
        // Planes 0–7 red, 8–15 green, 16–23 blue, low bit first.
        out.Plane(y, 2)[x] = static_cast<std::uint8_t>(v & 0xFF);
        out.Plane(y, 1)[x] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        out.Plane(y, 0)[x] = static_cast<std::uint8_t>((v >> 16) & 0xFF);
      }
    }
  }
  return true;
}

}  // namespace zentrope

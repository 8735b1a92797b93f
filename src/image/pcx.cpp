// PCX: run-length scan lines of 1-, 4- and 8-bit palette pictures and 24-bit
// planar colour.
#include <vector>

#include "image/byte_reader.h"
#include "image/decoders.h"

namespace zentrope {

namespace {}  // namespace

bool DecodePcx(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
               std::string* error) {
  if (size < 128 || data[0] != 10) {
    return DecodeFailure(error, "not a PCX file");
  }
  ByteReader r(data, size);
  r.Skip(2);
  const std::uint8_t encoding = r.U8();
  const int bits = r.U8();
  const int xmin = r.U16LE(), ymin = r.U16LE(), xmax = r.U16LE(), ymax = r.U16LE();
  r.Seek(16);
  std::uint8_t egaPalette[48];
  r.Bytes(egaPalette, sizeof egaPalette);
  r.Seek(65);
  const int planes = r.U8();
  const std::size_t bytesPerLine = r.U16LE();
  const int width = xmax - xmin + 1;
  const int height = ymax - ymin + 1;
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
    return DecodeFailure(error, "PCX picture size out of range");
  }
  const bool palette8 = bits == 8 && planes == 1;
  const bool rgb24 = bits == 8 && planes == 3;
  const bool planar16 = bits == 1 && planes >= 1 && planes <= 4;
  const bool packed4 = bits == 4 && planes == 1;
  if (!palette8 && !rgb24 && !planar16 && !packed4) {
    return DecodeFailure(error, "unsupported PCX depth");
  }
  if (bytesPerLine * 8 < static_cast<std::size_t>(width) * static_cast<std::size_t>(bits)) {
    return DecodeFailure(error, "PCX scan line shorter than the picture");
  }
  const int bpp = rgb24 ? 3 : 1;
  if (headerOnly) {
    out.width = static_cast<std::int16_t>(width);
    out.height = static_cast<std::int16_t>(height);
    out.bytesPerPixel = bpp;
    out.format = ImageFormat::kPcx;
    return true;
  }
  const std::size_t lineBytes = bytesPerLine * static_cast<std::size_t>(planes);
  const std::size_t total = lineBytes * static_cast<std::size_t>(height);
  // A run byte pair expands to at most 63 bytes.
  if (total > (size - 128) * (encoding == 1 ? 63 : 1)) {
    return DecodeFailure(error, "PCX data shorter than its picture");
  }
  if (!out.Allocate(width, height, bpp)) {
    return DecodeFailure(error, "Can't Allocate Image");
  }
  out.format = ImageFormat::kPcx;
  // Palette: the 256 colours at the end, or the header's 16, or black and
  // white for one plane of one bit.
  if (!rgb24) {
    out.hasPalette = true;
    if (palette8) {
      if (size >= 128 + 769 && data[size - 769] == 12) {
        for (int i = 0; i < 256; ++i) {
          const std::uint8_t* c = data + size - 768 + i * 3;
          out.palette[i * 3] = c[2];
          out.palette[i * 3 + 1] = c[1];
          out.palette[i * 3 + 2] = c[0];
        }
      } else {
        for (int i = 0; i < 256; ++i) {
          out.palette[i * 3] = out.palette[i * 3 + 1] = out.palette[i * 3 + 2] =
              static_cast<std::uint8_t>(i);
        }
      }
    } else if (planar16 && planes == 1) {
      out.palette[3] = out.palette[4] = out.palette[5] = 255;
    } else {
      for (int i = 0; i < 16; ++i) {
        out.palette[i * 3] = egaPalette[i * 3 + 2];
        out.palette[i * 3 + 1] = egaPalette[i * 3 + 1];
        out.palette[i * 3 + 2] = egaPalette[i * 3];
      }
    }
  }
  r.Seek(128);
  std::vector<std::uint8_t> line(lineBytes);
  std::size_t pendingCount = 0;
  std::uint8_t pendingValue = 0;
  for (int y = 0; y < height; ++y) {
    // Runs may continue from one scan line into the next.
    for (std::size_t i = 0; i < lineBytes; ++i) {
      if (pendingCount == 0) {
        const std::uint8_t b = r.U8();
        if (encoding == 1 && (b & 0xC0) == 0xC0) {
          pendingCount = b & 0x3F;
          pendingValue = r.U8();
        } else {
          pendingCount = 1;
          pendingValue = b;
        }
        if (!r.ok()) {
          return DecodeFailure(error, "truncated PCX data");
        }
        if (pendingCount == 0) {
          --i;  // an empty run
          continue;
        }
      }
      line[i] = pendingValue;
      --pendingCount;
    }
    for (int x = 0; x < width; ++x) {
      if (rgb24) {
        out.Plane(y, 2)[x] = line[static_cast<std::size_t>(x)];
        out.Plane(y, 1)[x] = line[bytesPerLine + static_cast<std::size_t>(x)];
        out.Plane(y, 0)[x] = line[2 * bytesPerLine + static_cast<std::size_t>(x)];
      } else if (palette8) {
        out.Plane(y, 0)[x] = line[static_cast<std::size_t>(x)];
      } else if (packed4) {
        const std::uint8_t b = line[static_cast<std::size_t>(x / 2)];
        out.Plane(y, 0)[x] = static_cast<std::uint8_t>((x % 2) ? (b & 15) : (b >> 4));
      } else {
        int index = 0;
        for (int p = 0; p < planes; ++p) {
          const std::uint8_t b =
              line[static_cast<std::size_t>(p) * bytesPerLine + static_cast<std::size_t>(x / 8)];
          index |= ((b >> (7 - x % 8)) & 1) << p;
        }
        out.Plane(y, 0)[x] = static_cast<std::uint8_t>(index);
      }
    }
  }
  return true;
}

}  // namespace zentrope

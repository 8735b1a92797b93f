// Image storage and pixel access.
#include "image/image.h"

namespace zentrope {

const char* FormatName(ImageFormat f) {
  switch (f) {
    case ImageFormat::kRiff:
      return "RIFF";
    case ImageFormat::kPcx:
      return "PCX";
    case ImageFormat::kTarga:
      return "TGA";
    case ImageFormat::kPict:
      return "PICT";
    case ImageFormat::kIlbm:
      return "ILBM";
    case ImageFormat::kPng:
      return "PNG";
    default:
      return "unknown";
  }
}

bool Image::Allocate(int w, int h, int bpp) {
  if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide || bpp < 1 || bpp > 4) {
    return false;
  }
  const std::size_t bytes =
      static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(bpp);
  // A picture larger than the whole memory limit can never be held: refused
  // before the pool is asked (and its out-of-memory hooks run).
  if (static_cast<std::int64_t>(bytes) > MemoryPool::Main().limit()) {
    return false;
  }
  auto* p = static_cast<std::uint8_t*>(MemoryPool::Main().allocate(bytes));
  if (!p) {
    return false;
  }
  pixels_.reset(p);
  width = static_cast<std::int16_t>(w);
  height = static_cast<std::int16_t>(h);
  bytesPerPixel = bpp;
  return true;
}

void Image::SetBgra(int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
  if (bytesPerPixel >= 3) {
    Plane(y, 0)[x] = b;
    Plane(y, 1)[x] = g;
    Plane(y, 2)[x] = r;
    if (bytesPerPixel == 4) {
      Plane(y, 3)[x] = a;
    }
  } else if (bytesPerPixel == 1) {
    Plane(y, 0)[x] = static_cast<std::uint8_t>((b + g + r) / 3);
  }
}

Pixel ImagePixel(const Image& image, int x, int y) {
  if (!image.HasPixels() || x < 0 || y < 0 || x >= image.width || y >= image.height) {
    return {};
  }
  switch (image.bytesPerPixel) {
    case 1: {
      const std::uint8_t v = image.Plane(y, 0)[x];
      if (image.hasPalette) {
        return {image.palette[v * 3], image.palette[v * 3 + 1], image.palette[v * 3 + 2], 0};
      }
      return {v, v, v, 0};
    }
    case 2: {
      const unsigned v = image.Plane(y, 0)[x] | (image.Plane(y, 1)[x] << 8);
      return {static_cast<std::uint8_t>(((v >> 10) & 31) * 8),
              static_cast<std::uint8_t>(((v >> 5) & 31) * 8),
              static_cast<std::uint8_t>((v & 31) * 8), 0};
    }
    case 3:
      return {image.Plane(y, 0)[x], image.Plane(y, 1)[x], image.Plane(y, 2)[x], 0};
    default:
      return {image.Plane(y, 0)[x], image.Plane(y, 1)[x], image.Plane(y, 2)[x],
              image.Plane(y, 3)[x]};
  }
}

}  // namespace zentrope

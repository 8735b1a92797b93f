// Image: one loaded picture, its rows held as one plane per byte of the
// pixel. Colour pictures keep their planes in blue, green, red (and alpha)
// order, as the renderers use them; 1-byte pictures are grey or palette
// indices; 2-byte pictures hold a 5-5-5 value with blue in bits 10–14.
// Pixel memory comes from the memory pool, so pictures count against the
// memory limit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shell/memory_pool.h"

namespace zentrope {

inline constexpr std::uint16_t kImageQuiet = 0x04;          // no "Loading [...]" message
inline constexpr std::uint16_t kImagePremultiplied = 0x08;  // alpha is pre-multiplied
inline constexpr std::uint16_t kLoadHeaderOnly = 0x01;
inline constexpr std::uint16_t kLoadKeyColour = 0x02;

enum class ImageFormat { kUnknown, kRiff, kPcx, kTarga, kPict, kIlbm, kPng };
const char* FormatName(ImageFormat f);

struct PoolFree {
  void operator()(std::uint8_t* p) const { MemoryPool::Main().release(p); }
};

class Image {
 public:
  std::int16_t width = 0;
  std::int16_t height = 0;
  std::string fileName;
  std::uint16_t flags = 0;
  int bytesPerPixel = 0;
  bool hasPalette = false;
  std::uint32_t keyColour = 0;  // 0xRRGGBB
  ImageFormat format = ImageFormat::kUnknown;
  std::array<std::uint8_t, 256 * 3> palette{};  // blue, green, red per entry

  // Allocates zeroed pixel planes from the pool; false when the limit
  // refuses or the size is not a picture.
  bool Allocate(int w, int h, int bpp);
  bool HasPixels() const { return pixels_ != nullptr; }
  // Plane p of row r.
  std::uint8_t* Plane(int row, int p) {
    return pixels_.get() + (static_cast<std::size_t>(row) * bytesPerPixel + p) * width;
  }
  const std::uint8_t* Plane(int row, int p) const {
    return pixels_.get() + (static_cast<std::size_t>(row) * bytesPerPixel + p) * width;
  }
  // Sets a colour pixel from blue, green, red (and alpha when it has one).
  void SetBgra(int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a = 255);

 private:
  std::unique_ptr<std::uint8_t, PoolFree> pixels_;
};

struct Pixel {
  std::uint8_t c0 = 0, c1 = 0, c2 = 0;  // blue, green, red
  std::uint8_t alpha = 0;
  bool operator==(const Pixel&) const = default;
};

// The pixel at column x, row y (row 0 at the top). Alpha is 0 for pictures
// without one; grey pictures give the grey value in all three colour bytes
// unless they carry a palette; 2-byte pixels give bits 10–14, 5–9 and 0–4,
// times 8.
Pixel ImagePixel(const Image& image, int x, int y);

// The largest picture side the 16-bit fields can describe.
inline constexpr int kMaxImageSide = 32767;

}  // namespace zentrope

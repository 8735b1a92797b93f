// PNG through libpng's simplified interface for reading, and its full
// interface for writing (which chooses the filter and deflate strategy).
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>

#include <cstring>
#include <vector>

#include "image/decoders.h"
#include "image/image_file.h"
#include "shell/atomic_file.h"
#include "shell/memory_pool.h"

namespace zentrope {

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Deflate turns one stored byte into at most 1032 (a run of 258 from every
// two bits of a fixed-code match).
constexpr std::uint64_t kMaxDeflateRatio = 1032;

std::uint32_t Big32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Whether the file can hold the rows its header claims: the filtered rows
// (a filter byte and the packed samples each) must come out of the file's
// compressed bytes. The header is checked before libpng allocates anything
// for the picture.
bool ClaimFitsTheFile(const std::uint8_t* data, std::size_t size) {
  if (size < 33 || std::memcmp(data + 12, "IHDR", 4) != 0) {
    return true;  // libpng refuses it itself
  }
  const std::uint64_t width = Big32(data + 16), height = Big32(data + 20);
  const unsigned depth = data[24];
  unsigned channels = 1;
  switch (data[25]) {
    case 2:
      channels = 3;
      break;
    case 4:
      channels = 2;
      break;
    case 6:
      channels = 4;
      break;
    default:
      break;
  }
  if (width > static_cast<std::uint64_t>(kMaxImageSide) ||
      height > static_cast<std::uint64_t>(kMaxImageSide)) {
    return false;
  }
  const std::uint64_t rowBytes = (width * channels * depth + 7) / 8 + 1;
  return rowBytes * height <= static_cast<std::uint64_t>(size) * kMaxDeflateRatio;
}

// A write's failure as libpng reports it, kept for the caller.
struct PngWriteTrouble {
  char message[128] = "the picture cannot be encoded";
};

[[noreturn]] void PngWriteError(png_structp png, png_const_charp message) {
  auto* trouble = static_cast<PngWriteTrouble*>(png_get_error_ptr(png));
  std::snprintf(trouble->message, sizeof trouble->message, "%s", message);
  png_longjmp(png, 1);
}

void PngWriteWarning(png_structp, png_const_charp) {}

// Rendered frames are written while the next frame renders, so the encoder
// must keep up with the renderer: the Paeth filter with run-length deflate
// encodes a frame three times faster than libpng's default (adaptive
// filters, deflate level 6) for files about a fifth larger. The same
// pixels always give the same bytes. Nothing with a destructor lives in this
// function: libpng leaves it by longjmp on failure.
bool WritePngRows(std::FILE* stream, const std::uint8_t* bgr, int width, int height,
                  PngWriteTrouble& trouble) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &trouble, PngWriteError, PngWriteWarning);
  if (png == nullptr) {
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, stream);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
  png_set_compression_strategy(png, Z_RLE);
  png_write_info(png, info);
  png_set_bgr(png);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    png_write_row(png, bgr + static_cast<std::size_t>(y) * stride);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool DecodePng(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
               std::string* error) {
  if (size < 8 || std::memcmp(data, kPngSignature, 8) != 0) {
    return DecodeFailure(error, "not a PNG file");
  }
  if (!ClaimFitsTheFile(data, size)) {
    return DecodeFailure(error, "PNG picture larger than its file can hold");
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, data, size)) {
    return DecodeFailure(error, std::string("PNG: ") + png.message);
  }
  const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  const bool colour = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
  const int bpp = alpha ? 4 : (colour ? 3 : 1);
  if (png.width < 1 || png.height < 1 || png.width > kMaxImageSide || png.height > kMaxImageSide) {
    png_image_free(&png);
    return DecodeFailure(error, "PNG picture size out of range");
  }
  if (headerOnly) {
    out.width = static_cast<std::int16_t>(png.width);
    out.height = static_cast<std::int16_t>(png.height);
    out.bytesPerPixel = bpp;
    out.format = ImageFormat::kPng;
    png_image_free(&png);
    return true;
  }
  png.format = bpp == 4 ? PNG_FORMAT_BGRA : (bpp == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY);
  // The picture and the interleaved rows it is decoded through must both
  // fit under the memory limit before either is allocated.
  const std::int64_t pixels = static_cast<std::int64_t>(png.width) * png.height * bpp;
  MemoryPool& pool = MemoryPool::Main();
  if (pixels > (pool.limit() - pool.total_allocated()) / 2) {
    png_image_free(&png);
    return DecodeFailure(error, "Can't Allocate Image");
  }
  if (!out.Allocate(static_cast<int>(png.width), static_cast<int>(png.height), bpp)) {
    png_image_free(&png);
    return DecodeFailure(error, "Can't Allocate Image");
  }
  std::vector<std::uint8_t> buffer(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, buffer.data(), 0, nullptr)) {
    const std::string why = std::string("PNG: ") + png.message;
    png_image_free(&png);
    return DecodeFailure(error, why);
  }
  out.format = ImageFormat::kPng;
  const std::size_t stride = static_cast<std::size_t>(png.width) * bpp;
  for (int y = 0; y < out.height; ++y) {
    const std::uint8_t* src = buffer.data() + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < out.width; ++x) {
      for (int p = 0; p < bpp; ++p) {
        out.Plane(y, p)[x] = src[static_cast<std::size_t>(x) * bpp + p];
      }
    }
  }
  return true;
}

bool WritePng(const Image& image, const std::string& path, std::string* error) {
  if (!image.HasPixels()) {
    return DecodeFailure(error, "no picture");
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  const bool alpha = image.bytesPerPixel == 4;
  const std::size_t channels = alpha ? 4 : 3;
  png.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(image.width) * image.height * channels);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Pixel p = ImagePixel(image, x, y);
      std::uint8_t* d = &buffer[(static_cast<std::size_t>(y) * image.width + x) * channels];
      d[0] = p.c0;
      d[1] = p.c1;
      d[2] = p.c2;
      if (alpha) {
        d[3] = p.alpha;
      }
    }
  }
  // Through a temporary file and a rename: a failed write (a full disk, a
  // file-size limit) leaves the previous picture as it was.
  SaveTransaction save;
  bool encoded = true;
  save.Stage(path, [&](std::FILE* f) {
    encoded = png_image_write_to_stdio(&png, f, 0, buffer.data(), 0, nullptr) != 0;
    return encoded;
  });
  if (save.Commit() != SaveStatus::kSaved) {
    // The OS's reason when the stream failed, else the encoder's.
    const bool ownReason = encoded || save.Reason() != "write failed";
    return DecodeFailure(error, ownReason ? save.Reason() : std::string("PNG: ") + png.message);
  }
  return true;
}

bool EncodePngBgr(std::FILE* stream, const std::uint8_t* bgr, int width, int height,
                  std::string* error) {
  if (width <= 0 || height <= 0) {
    return DecodeFailure(error, "no picture");
  }
  PngWriteTrouble trouble;
  if (!WritePngRows(stream, bgr, width, height, trouble)) {
    return DecodeFailure(error, std::string("PNG: ") + trouble.message);
  }
  return true;
}

}  // namespace zentrope

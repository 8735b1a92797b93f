// Targa reading and writing.
#include "image/targa.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "image/byte_reader.h"
#include "image/decoders.h"

namespace zentrope {

namespace {

constexpr char kSignature[] = "TRUEVISION-XFILE.";  // followed by a zero byte
constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kFooterSize = 26;
constexpr std::uint16_t kExtensionSize = 495;

// A 15/16-bit Targa value (red in bits 10–14) as the stored 5-5-5 value with
// blue in bits 10–14.
std::uint16_t SwapFiveFive(std::uint16_t v) {
  const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
  return static_cast<std::uint16_t>((b << 10) | (g << 5) | r);
}

}  // namespace

bool LooksLikeTarga(const std::uint8_t* data, std::size_t size) {
  return size >= kHeaderSize && data[2] != 0 && data[2] < 12;
}

bool DecodeTarga(const std::uint8_t* data, std::size_t size, Image& out, std::uint16_t loadFlags,
                 std::string* error) {
  if (!LooksLikeTarga(data, size)) {
    return DecodeFailure(error, "not a Targa file");
  }
  // Targa 2.0 footer: key colour and the alpha's attributes type.
  bool footer = false;
  if (size >= kHeaderSize + kFooterSize &&
      std::memcmp(data + size - 18, kSignature, sizeof kSignature) == 0) {
    ByteReader f(data, size);
    f.Seek(size - kFooterSize);
    const std::uint32_t extension = f.U32LE();
    if (extension >= kHeaderSize && extension < size && size - extension >= 495) {
      footer = true;
      ByteReader e(data, size);
      e.Seek(extension + 470);
      e.U8();
      const std::uint32_t c1 = e.U8(), c2 = e.U8(), c3 = e.U8();
      if (loadFlags & kLoadKeyColour) {
        out.keyColour = (c1 << 16) | (c2 << 8) | c3;
      }
      e.Seek(extension + 494);
      if (e.U8() == 4) {
        out.flags |= kImagePremultiplied;
      }
    }
  }
  if (!footer && (loadFlags & kLoadKeyColour)) {
    out.keyColour = 0xFFFFFF;
  }
  ByteReader r(data, size);
  const std::uint8_t idLength = r.U8();
  const std::uint8_t mapType = r.U8();
  const std::uint8_t type = r.U8();
  const std::uint16_t mapFirst = r.U16LE();
  const std::uint16_t mapLength = r.U16LE();
  const std::uint8_t mapBits = r.U8();
  r.Skip(4);  // origin
  const int width = r.U16LE();
  const int height = r.U16LE();
  const int depth = r.U8();
  const std::uint8_t descriptor = r.U8();
  const bool mapped = type == 1 || type == 9;
  const bool grey = type == 3 || type == 11;
  const bool trueColour = type == 2 || type == 10;
  const bool rle = type >= 9;
  if (!mapped && !grey && !trueColour) {
    return DecodeFailure(error, "unsupported Targa image type");
  }
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
    return DecodeFailure(error, "Targa picture size out of range");
  }
  if ((mapped || grey) ? depth != 8 : (depth != 15 && depth != 16 && depth != 24 && depth != 32)) {
    return DecodeFailure(error, "unsupported Targa pixel depth");
  }
  const int filePixelBytes = (depth - 1) / 8 + 1;
  if (loadFlags & kLoadHeaderOnly) {
    out.width = static_cast<std::int16_t>(width);
    out.height = static_cast<std::int16_t>(height);
    out.bytesPerPixel = filePixelBytes;
    out.format = ImageFormat::kTarga;
    return true;
  }
  r.Skip(idLength);
  std::array<std::uint8_t, 256 * 3> palette{};
  if (mapType == 1) {
    if (mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32) {
      return DecodeFailure(error, "unsupported Targa colour map");
    }
    const int entryBytes = (mapBits - 1) / 8 + 1;
    for (int i = 0; i < mapLength; ++i) {
      std::uint8_t b = 0, g = 0, rd = 0;
      if (entryBytes == 2) {
        const std::uint16_t v = r.U16LE();
        rd = static_cast<std::uint8_t>(((v >> 10) & 31) * 8);
        g = static_cast<std::uint8_t>(((v >> 5) & 31) * 8);
        b = static_cast<std::uint8_t>((v & 31) * 8);
      } else {
        b = r.U8();
        g = r.U8();
        rd = r.U8();
        if (entryBytes == 4) {
          r.U8();
        }
      }
      const int index = mapFirst + i;
      if (index < 256) {
        palette[index * 3] = b;
        palette[index * 3 + 1] = g;
        palette[index * 3 + 2] = rd;
      }
    }
  } else if (mapped) {
    return DecodeFailure(error, "colour-mapped Targa without a colour map");
  }
  if (!r.ok()) {
    return DecodeFailure(error, "truncated Targa header");
  }
  // Refuse sizes the data cannot hold before allocating.
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::size_t needed = rle ? (pixels + 127) / 128 * (1 + filePixelBytes)
                                 : pixels * static_cast<std::size_t>(filePixelBytes);
  if (needed > r.remaining()) {
    return DecodeFailure(error, "Targa data shorter than its picture");
  }
  if (!out.Allocate(width, height, filePixelBytes)) {
    return DecodeFailure(error, "Can't Allocate Image");
  }
  out.format = ImageFormat::kTarga;
  out.hasPalette = mapped;
  if (mapped) {
    out.palette = palette;
  }
  const bool topDown = (descriptor & 0x20) != 0;
  const bool rightToLeft = (descriptor & 0x10) != 0;
  std::uint8_t value[4] = {};
  std::size_t index = 0;
  auto store = [&](const std::uint8_t* v) -> bool {
    const int row = static_cast<int>(index / static_cast<std::size_t>(width));
    const int col = static_cast<int>(index % static_cast<std::size_t>(width));
    const int y = topDown ? row : height - 1 - row;
    const int x = rightToLeft ? width - 1 - col : col;
    if (mapped) {
      const int i = v[0];
      if (i < mapFirst || i >= mapFirst + mapLength) {
        return false;  // an index past the colour map
      }
    }
    if (filePixelBytes == 2) {
      const std::uint16_t s = SwapFiveFive(static_cast<std::uint16_t>(v[0] | (v[1] << 8)));
      out.Plane(y, 0)[x] = static_cast<std::uint8_t>(s & 0xFF);
      out.Plane(y, 1)[x] = static_cast<std::uint8_t>(s >> 8);
    } else {
      for (int p = 0; p < filePixelBytes; ++p) {
        out.Plane(y, p)[x] = v[p];
      }
    }
    ++index;
    return true;
  };
  while (index < pixels) {
    if (!rle) {
      if (!r.Bytes(value, static_cast<std::size_t>(filePixelBytes)) || !store(value)) {
        return DecodeFailure(error, "bad Targa pixel data");
      }
      continue;
    }
    const std::uint8_t packet = r.U8();
    const std::size_t count = (packet & 0x7F) + 1u;
    if (!r.ok() || count > pixels - index) {
      return DecodeFailure(error, "Targa packet runs past the picture");
    }
    if (packet & 0x80) {
      if (!r.Bytes(value, static_cast<std::size_t>(filePixelBytes))) {
        return DecodeFailure(error, "truncated Targa packet");
      }
      for (std::size_t i = 0; i < count; ++i) {
        if (!store(value)) {
          return DecodeFailure(error, "Targa colour index past the colour map");
        }
      }
    } else {
      for (std::size_t i = 0; i < count; ++i) {
        if (!r.Bytes(value, static_cast<std::size_t>(filePixelBytes)) || !store(value)) {
          return DecodeFailure(error, "bad Targa packet");
        }
      }
    }
  }
  return true;
}

std::vector<std::uint8_t> PackTargaRow(const std::uint32_t* pixels, int width, int bytesPerPixel) {
  std::vector<std::uint8_t> out;
  const std::uint32_t mask =
      bytesPerPixel == 4 ? 0xFFFFFFFFu : (bytesPerPixel == 3 ? 0x00FFFFFFu : 0x000000FFu);
  auto put = [&](std::uint32_t v) {
    for (int b = 0; b < bytesPerPixel; ++b) {
      out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    }
  };
  int i = 0;
  while (i < width) {
    // A run where the next pixel repeats this one.
    int run = 1;
    while (i + run < width && run < 128 && (pixels[i + run] & mask) == (pixels[i] & mask)) {
      ++run;
    }
    if (run > 1) {
      out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
      put(pixels[i]);
      i += run;
      continue;
    }
    // Raw pixels up to the start of the next run.
    int raw = 1;
    while (i + raw < width && raw < 128 &&
           !(i + raw + 1 < width && (pixels[i + raw] & mask) == (pixels[i + raw + 1] & mask))) {
      ++raw;
    }
    out.push_back(static_cast<std::uint8_t>(raw - 1));
    for (int k = 0; k < raw; ++k) {
      put(pixels[i + k]);
    }
    i += raw;
  }
  return out;
}

TargaWriter::~TargaWriter() {
  Abandon();
}

void TargaWriter::Abandon() {
  if (file_ && shared_) {
    // The shared save must not put a half-written picture in place.
    shared_->Fail(SaveStatus::kWriteError, {}, reason_.empty() ? "write failed" : reason_);
  }
  file_ = nullptr;
  shared_ = nullptr;
  save_.reset();  // removes the temporary
}

bool TargaWriter::Put(const void* data, std::size_t n) {
  errno = 0;
  if (!file_ || std::fwrite(data, 1, n, file_) != n) {
    reason_ = errno ? std::strerror(errno) : "write failed";
    Abandon();
    return false;
  }
  return true;
}

bool TargaWriter::CreateTarga(const std::filesystem::path& name, int width, int height, int bits,
                              bool compressed, SaveTransaction* shared) {
  Abandon();
  reason_.clear();
  if (width < 1 || height < 1 || width > 65535 || height > 65535) {
    reason_ = "picture size out of range";
    return false;
  }
  if (shared) {
    file_ = shared->Open(name);
    if (!file_) {
      reason_ = shared->Reason();
      return false;
    }
    shared_ = shared;
  } else {
    save_ = std::make_unique<SaveTransaction>();
    file_ = save_->Open(name);
    if (!file_) {
      reason_ = save_->Reason();
      Abandon();
      return false;
    }
  }
  compressed_ = compressed;
  // A compressed grey picture is run-length grey (11): type 10 with 8 bits
  // would not be a valid picture.
  const std::uint8_t type = bits >= 24 ? (compressed ? 10 : 2) : (compressed ? 11 : 3);
  const std::uint8_t header[kHeaderSize] = {0,
                                            0,
                                            type,
                                            0,
                                            0,
                                            0,
                                            0,
                                            0,
                                            0,
                                            0,
                                            0,
                                            0,
                                            static_cast<std::uint8_t>(width & 0xFF),
                                            static_cast<std::uint8_t>(width >> 8),
                                            static_cast<std::uint8_t>(height & 0xFF),
                                            static_cast<std::uint8_t>(height >> 8),
                                            static_cast<std::uint8_t>(bits),
                                            static_cast<std::uint8_t>(bits > 24 ? 0x28 : 0x20)};
  return Put(header, sizeof header);
}

bool TargaWriter::WriteTargaRow(const std::uint32_t* pixels, int width, int bits) {
  const int bytes = bits > 24 ? 4 : (bits >= 24 ? 3 : 1);
  if (compressed_) {
    const std::vector<std::uint8_t> packed = PackTargaRow(pixels, width, bytes);
    return Put(packed.data(), packed.size());
  }
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(width) * bytes);
  for (int i = 0; i < width; ++i) {
    for (int b = 0; b < bytes; ++b) {
      raw.push_back(static_cast<std::uint8_t>(pixels[i] >> (8 * b)));
    }
  }
  return Put(raw.data(), raw.size());
}

bool TargaWriter::WriteTargaRowAt(const std::uint32_t* pixels, int row, int width, int bits) {
  if (!file_ || compressed_) {
    return false;
  }
  const long offset = 18L + static_cast<long>(row) * width * (bits / 8);
  if (std::fseek(file_, offset, SEEK_SET) != 0) {
    return false;
  }
  const bool ok = WriteTargaRow(pixels, width, bits);
  return ok && std::fseek(file_, 0, SEEK_END) == 0;
}

bool TargaWriter::ReadTargaRow(std::uint32_t* buffer, int row, int width, int bits) {
  if (!file_ || compressed_) {
    return false;
  }
  const int bytes = bits / 8;
  const long offset = 18L + static_cast<long>(row) * width * bytes;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(width) * bytes);
  if (std::fseek(file_, offset, SEEK_SET) != 0 ||
      std::fread(raw.data(), 1, raw.size(), file_) != raw.size()) {
    return false;
  }
  for (int i = 0; i < width; ++i) {
    std::uint32_t v = 0;
    for (int b = 0; b < bytes; ++b) {
      v |= static_cast<std::uint32_t>(raw[static_cast<std::size_t>(i * bytes + b)]) << (8 * b);
    }
    buffer[i] = v;
  }
  return std::fseek(file_, 0, SEEK_END) == 0;
}

bool TargaWriter::CloseTarga(std::uint32_t keyColour, float pixelAspect, int bits,
                             std::uint32_t developerOffset) {
  if (!file_) {
    return false;
  }
  const std::uint8_t depth = static_cast<std::uint8_t>(bits);
  if (std::fseek(file_, 16, SEEK_SET) != 0 || !Put(&depth, 1) ||
      std::fseek(file_, 0, SEEK_END) != 0) {
    if (reason_.empty()) {
      reason_ = std::strerror(errno);
    }
    Abandon();
    return false;
  }
  const long extensionOffset = std::ftell(file_);
  std::vector<std::uint8_t> ext(kExtensionSize, 0);
  ext[0] = kExtensionSize & 0xFF;
  ext[1] = kExtensionSize >> 8;
  // Software ID at 426, version at 467, version letter at 469.
  std::memcpy(&ext[426], "Lumbrel", 7);
  ext[467] = 200;
  ext[468] = 0;
  ext[469] = ' ';
  ext[470] = 0;
  ext[471] = static_cast<std::uint8_t>(keyColour >> 16);
  ext[472] = static_cast<std::uint8_t>(keyColour >> 8);
  ext[473] = static_cast<std::uint8_t>(keyColour);
  // Aspect × 100 rounded to the nearest whole number (1.337 → 134), halves
  // up, and held to the 16-bit field; an aspect that is not a number is
  // stored as 0 (none). The product is taken in float: an aspect typed as a
  // decimal (1.005) is held just below it, and the float product lands back
  // on the decimal's hundredfold (100.5 → 101) where a double one would not.
  const float scaled = pixelAspect * 100.0f;
  const auto numerator = static_cast<std::uint16_t>(
      std::isfinite(scaled)
          ? std::clamp<double>(std::floor(static_cast<double>(scaled) + 0.5), 0.0, 65535.0)
          : 0.0);
  ext[474] = static_cast<std::uint8_t>(numerator & 0xFF);
  ext[475] = static_cast<std::uint8_t>(numerator >> 8);
  ext[476] = 100;
  ext[477] = 0;
  ext[494] = bits > 24 ? 4 : 0;
  std::uint8_t footer[kFooterSize] = {};
  const auto ext32 = static_cast<std::uint32_t>(extensionOffset);
  for (int i = 0; i < 4; ++i) {
    footer[i] = static_cast<std::uint8_t>(ext32 >> (8 * i));
    footer[4 + i] = static_cast<std::uint8_t>(developerOffset >> (8 * i));
  }
  std::memcpy(footer + 8, kSignature, sizeof kSignature);  // with its zero byte
  if (extensionOffset < 0 || !Put(ext.data(), ext.size()) || !Put(footer, sizeof footer)) {
    return false;
  }
  file_ = nullptr;
  if (shared_) {
    shared_ = nullptr;  // the caller commits
    return true;
  }
  const bool saved = save_->Commit() == SaveStatus::kSaved;
  if (!saved) {
    reason_ = save_->Reason();
  }
  save_.reset();
  return saved;
}

}  // namespace zentrope

// Picture loading and saving.
#include "image/image_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <vector>

#include "image/decoders.h"
#include "image/targa.h"
#include "shell/error_log.h"
#include "shell/interrupt.h"
#include "shell/project_paths.h"
#include "shell/regular_file.h"

namespace zentrope {

namespace {

// The largest picture file read: an uncompressed 8192 × 8192 picture of
// four bytes a pixel with room for run-length growth; no picture a material
// uses comes near it.
constexpr std::uintmax_t kMaxImageFile = std::uintmax_t{512} << 20;

}  // namespace

ImageFormat DetectImageFormat(const std::uint8_t* data, std::size_t size) {
  if (size >= 4 && std::memcmp(data, "RIFF", 4) == 0) {
    return ImageFormat::kRiff;
  }
  if (size >= 1 && data[0] == 10) {
    return ImageFormat::kPcx;
  }
  if (LooksLikeTarga(data, size)) {
    return ImageFormat::kTarga;
  }
  if (size >= 526 && data[522] == 0x00 && data[523] == 0x11 && data[524] == 0x02 &&
      data[525] == 0xFF) {
    return ImageFormat::kPict;
  }
  if (size >= 12 && std::memcmp(data + 8, "ILBM", 4) == 0) {
    return ImageFormat::kIlbm;
  }
  if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) {
    return ImageFormat::kPng;
  }
  return ImageFormat::kUnknown;
}

std::string SequenceFileName(const std::string& name, int frame) {
  const std::filesystem::path p(name);
  const std::string stem = p.stem().string();
  std::size_t digits = 0;
  while (digits < stem.size() &&
         std::isdigit(static_cast<unsigned char>(stem[stem.size() - 1 - digits]))) {
    ++digits;
  }
  if (frame < 0 || digits == 0) {
    return name;
  }
  const std::string base = stem.substr(0, stem.size() - digits);
  const std::string plain = std::to_string(frame);
  const auto build = [&](const std::string& number) {
    return (p.parent_path() / (base + number + p.extension().string())).string();
  };
  const std::string first = build(plain);
  std::error_code ec;
  const std::optional<std::filesystem::path> located = LocateFile(first);
  if (located && std::filesystem::exists(*located, ec)) {
    return first;
  }
  std::string padded = plain;
  if (padded.size() < digits) {
    padded.insert(0, digits - padded.size(), '0');
  }
  return build(padded);
}

namespace {
MovieFrameDecoder movieFrameDecoder = nullptr;
}  // namespace

void SetMovieFrameDecoder(MovieFrameDecoder decoder) {
  movieFrameDecoder = decoder;
}

bool DecodeImage(const std::uint8_t* data, std::size_t size, Image& out, std::uint16_t loadFlags,
                 std::string* error, int movieFrame) {
  const bool headerOnly = (loadFlags & kLoadHeaderOnly) != 0;
  switch (DetectImageFormat(data, size)) {
    case ImageFormat::kRiff:
      if (!movieFrameDecoder) {
        if (error) {
          *error = "RIFF movie frames cannot be read by this program";
        }
        return false;
      }
      if (!movieFrameDecoder(data, size, movieFrame, out, headerOnly, error)) {
        return false;
      }
      out.format = ImageFormat::kRiff;
      return true;
    case ImageFormat::kPcx:
      return DecodePcx(data, size, out, headerOnly, error);
    case ImageFormat::kTarga:
      return DecodeTarga(data, size, out, loadFlags, error);
    case ImageFormat::kPict:
      return DecodePict(data, size, out, headerOnly, error);
    case ImageFormat::kIlbm:
      return DecodeIlbm(data, size, out, headerOnly, error);
    case ImageFormat::kPng:
      return DecodePng(data, size, out, headerOnly, error);
    default:
      if (error) {
        *error = "not a picture this program reads";
      }
      return false;
  }
}

namespace {

// A file that is a movie as named is read frame by frame rather than as a
// numbered sequence of pictures.
bool IsMovieFile(const std::string& name) {
  const std::optional<std::filesystem::path> file = LocateFile(name);
  char head[4] = {};
  return file && ReadRegularFileHead(*file, head, sizeof head) == 4 &&
         std::memcmp(head, "RIFF", 4) == 0;
}

}  // namespace

bool LoadImage(Image& image, int frame, std::uint16_t loadFlags, std::string* error) {
  const bool movie = IsMovieFile(image.fileName);
  const std::string name = movie ? image.fileName : SequenceFileName(image.fileName, frame);
  std::string why;
  const std::optional<std::filesystem::path> file = LocateFile(name, &why);
  std::vector<std::uint8_t> data;
  const bool opened = file && ReadRegularFile(*file, kMaxImageFile, data, &why);
  if (!opened) {
    log_line("can't open image file: " + name + "\n");
    if (error) {
      *error = "can't open image file: " + (why.empty() ? name : why);
    }
    return false;
  }
  const bool quiet = (loadFlags & kLoadHeaderOnly) || (image.flags & kImageQuiet);
  if (!quiet) {
    set_cursor("Snooze");
    SetStatusText("Loading [" + name + "]");
  }
  Image decoded;
  decoded.fileName = image.fileName;
  decoded.flags = image.flags;
  const bool ok =
      DecodeImage(data.data(), data.size(), decoded, loadFlags, &why, std::max(frame, 1));
  if (!quiet) {
    set_cursor("WakeUp");
  }
  if (!ok) {
    if (why == "Can't Allocate Image") {
      log_line("Can't Allocate Image: " + name + "\n");
    }
    if (error) {
      *error = name + ": " + why;
    }
    return false;
  }
  image = std::move(decoded);
  return true;
}

bool SaveTarga(const Image& image, const std::string& path, bool compressed, std::string* error) {
  if (!image.HasPixels()) {
    if (error) {
      *error = "no picture";
    }
    return false;
  }
  const int bits = image.bytesPerPixel == 4 ? 32 : 24;
  TargaWriter writer;
  if (!writer.CreateTarga(path, image.width, image.height, bits, compressed)) {
    if (error) {
      *error = writer.Reason();
    }
    return false;
  }
  std::vector<std::uint32_t> row(static_cast<std::size_t>(image.width));
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Pixel p = ImagePixel(image, x, y);
      const std::uint32_t a = bits == 32 ? p.alpha : 0;
      row[static_cast<std::size_t>(x)] = p.c0 | (p.c1 << 8) | (p.c2 << 16) | (a << 24);
    }
    if (!writer.WriteTargaRow(row.data(), image.width, bits)) {
      if (error) {
        *error = writer.Reason();
      }
      return false;
    }
  }
  if (!writer.CloseTarga(0, 1.0f, bits)) {
    if (error) {
      *error = writer.Reason();
    }
    return false;
  }
  return true;
}

}  // namespace zentrope

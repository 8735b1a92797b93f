// Finished frames into one movie.

#include "io/movie_encode.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "image/image.h"
#include "image/image_file.h"
#include "io/avi_writer.h"
#include "render/zbuffer.h"
#include "shell/interrupt.h"

namespace zentrope {

namespace {

// The picture as blue, green, red bytes, whatever its depth.
void ToPicture(const Image& image, Picture& picture) {
  picture.Reset(image.width, image.height);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      std::uint8_t* out = picture.bgr.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
      if (image.bytesPerPixel >= 3) {
        for (int p = 0; p < 3; ++p) {
          out[p] = image.Plane(y, p)[x];
        }
      } else if (image.bytesPerPixel == 2) {
        // 5-5-5 with blue in bits 10-14.
        const unsigned v = image.Plane(y, 0)[x] | (unsigned{image.Plane(y, 1)[x]} << 8);
        const unsigned channels[3] = {(v >> 10) & 31u, (v >> 5) & 31u, v & 31u};
        for (int p = 0; p < 3; ++p) {
          out[p] = static_cast<std::uint8_t>((channels[p] << 3) | (channels[p] >> 2));
        }
      } else {
        const std::uint8_t v = image.Plane(y, 0)[x];
        for (int p = 0; p < 3; ++p) {
          out[p] = image.hasPalette ? image.palette[static_cast<std::size_t>(v) * 3 + p] : v;
        }
      }
    }
  }
}

}  // namespace

EncodeOutcome EncodeMovie(const std::vector<FrameFile>& frames, const std::string& movie,
                          int frameRate, const AviCompression& compression,
                          const std::function<void(int, int)>& progress) {
  EncodeOutcome outcome;
  if (frames.empty()) {
    outcome.file = movie;
    outcome.error = "no frames to encode";
    return outcome;
  }
  const int count = static_cast<int>(frames.size());
  int width = 0, height = 0;
  for (const FrameFile& frame : frames) {
    Image header;
    header.fileName = frame.path.string();
    std::string error;
    if (!LoadImage(header, -1, kLoadHeaderOnly, &error)) {
      outcome.file = header.fileName;
      outcome.error = error.empty() ? "cannot read the picture" : error;
      return outcome;
    }
    if (width == 0) {
      width = header.width;
      height = header.height;
    } else if (header.width != width || header.height != height) {
      outcome.file = header.fileName;
      outcome.error = "its size " + std::to_string(header.width) + "x" +
                      std::to_string(header.height) + " differs from the first frame's " +
                      std::to_string(width) + "x" + std::to_string(height);
      return outcome;
    }
  }
  // The movie is made under a working name beside the target and put in
  // place only when every frame is in it, so a failure or a stop leaves the
  // old movie as it was.
  const std::filesystem::path target(movie);
  const std::filesystem::path working =
      target.parent_path() /
      ("." + target.filename().string() + ".encoding-" + std::to_string(::getpid()) + ".avi");
  AviWriter writer;
  for (int i = 0; i < count; ++i) {
    if (escape_pressed()) {
      outcome.stopped = true;
      break;
    }
    if (progress) {
      progress(i, count);
    }
    Image image;
    image.fileName = frames[static_cast<std::size_t>(i)].path.string();
    std::string error;
    Picture picture;
    if (!LoadImage(image, -1, 0, &error)) {
      outcome.file = image.fileName;
      outcome.error = error.empty() ? "cannot read the picture" : error;
      break;
    }
    ToPicture(image, picture);
    if (!writer.write_avi_frame(static_cast<float>(i + 1), 1.0f, static_cast<float>(count), 1.0f,
                                frameRate, working.string(), picture, compression)) {
      outcome.file = movie;
      outcome.error = writer.Reason();
      break;
    }
    ++outcome.frames;
  }
  if (writer.IsOpen() && !writer.Close() && outcome.error.empty()) {
    outcome.file = movie;
    outcome.error = writer.Reason();
  }
  outcome.ok = outcome.error.empty() && !outcome.stopped;
  std::error_code ec;
  if (outcome.ok) {
    std::filesystem::rename(working, target, ec);
    if (ec) {
      outcome.ok = false;
      outcome.file = movie;
      outcome.error = ec.message();
    }
  }
  if (!outcome.ok) {
    std::filesystem::remove(working, ec);
  }
  return outcome;
}

}  // namespace zentrope

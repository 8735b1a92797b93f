// Writing a rendered picture: a 24-bit Targa (run-length, with the 2.0
// extension area and footer) or a PNG, chosen by the name's extension,
// always through a temporary file renamed over the target, so a failed write
// leaves no partial file under the name.
#pragma once

#include <filesystem>
#include <string>

#include "render/zbuffer.h"

namespace zentrope {

enum class PictureFormat { kTarga, kPng, kUnknown };
// By extension, without regard to case: .tga, .png.
PictureFormat PictureFormatFor(const std::filesystem::path& name);

struct PictureWrite {
  int code = 0;        // 0, 111 (cannot be created) or 108 (write failed)
  std::string reason;  // the OS's words, when it gave some
};
PictureWrite WritePicture(const Picture& picture, const std::filesystem::path& name,
                          float pixelAspect = 1.0f);

}  // namespace zentrope

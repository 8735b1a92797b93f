// Writing rendered pictures as Targa or PNG files.
#include "render/picture_file.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

#include "image/image_file.h"
#include "image/targa.h"
#include "render/render_errors.h"
#include "shell/atomic_file.h"

namespace zentrope {

PictureFormat PictureFormatFor(const std::filesystem::path& name) {
  std::string ext = name.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".tga") {
    return PictureFormat::kTarga;
  }
  if (ext == ".png") {
    return PictureFormat::kPng;
  }
  return PictureFormat::kUnknown;
}

namespace {

PictureWrite WriteTarga(const Picture& picture, const std::filesystem::path& name,
                        float pixelAspect) {
  TargaWriter writer;
  if (!writer.CreateTarga(name, picture.width, picture.height, 24, /*compressed=*/true)) {
    return {render_error::kCantOpen, writer.Reason()};
  }
  std::vector<std::uint32_t> row(static_cast<std::size_t>(picture.width));
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* p = picture.Pixel(x, y);
      row[static_cast<std::size_t>(x)] =
          std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
    }
    if (!writer.WriteTargaRow(row.data(), picture.width, 24)) {
      return {render_error::kCantSave, writer.Reason()};
    }
  }
  if (!writer.CloseTarga(0, pixelAspect, 24)) {
    return {render_error::kCantSave, writer.Reason()};
  }
  return {};
}

PictureWrite WritePng(const Picture& picture, const std::filesystem::path& name) {
  SaveTransaction save;
  std::string detail;
  std::FILE* stream = save.Open(name, &detail);
  if (stream == nullptr) {
    return {render_error::kCantOpen, save.Reason()};
  }
  std::string error;
  if (!EncodePngBgr(stream, picture.bgr.data(), picture.width, picture.height, &error)) {
    save.Abandon();
    return {render_error::kCantSave, error};
  }
  if (save.Commit(&detail) != SaveStatus::kSaved) {
    return {render_error::kCantSave, save.Reason()};
  }
  return {};
}

}  // namespace

PictureWrite WritePicture(const Picture& picture, const std::filesystem::path& name,
                          float pixelAspect) {
  switch (PictureFormatFor(name)) {
    case PictureFormat::kTarga:
      return WriteTarga(picture, name, pixelAspect);
    case PictureFormat::kPng:
      return WritePng(picture, name);
    case PictureFormat::kUnknown:
      break;
  }
  return {render_error::kCantOpen, "the name must end in .tga or .png"};
}

}  // namespace zentrope

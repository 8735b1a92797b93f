// A rendered picture as an OpenGL texture the interface shows: uploaded
// again whenever the picture changes, released with the texture.
#pragma once

#include <cstdint>

#include "render/zbuffer.h"

namespace zentrope {

class PictureTexture {
 public:
  PictureTexture() = default;
  ~PictureTexture();
  PictureTexture(const PictureTexture&) = delete;
  PictureTexture& operator=(const PictureTexture&) = delete;
  PictureTexture(PictureTexture&& other) noexcept;
  PictureTexture& operator=(PictureTexture&& other) noexcept;

  void Upload(const Picture& picture);
  // The texture as the interface library names it; 0 before the first upload.
  void* Id() const;
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  void Release();
  std::uint32_t id_ = 0;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace zentrope

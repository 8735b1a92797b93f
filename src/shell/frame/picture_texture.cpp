// Pictures uploaded as OpenGL textures.
#include "shell/frame/picture_texture.h"

#include <utility>

#include <SDL_opengl.h>

namespace zentrope {

PictureTexture::~PictureTexture() {
  Release();
}

PictureTexture::PictureTexture(PictureTexture&& other) noexcept
    : id_(std::exchange(other.id_, 0)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)) {}

PictureTexture& PictureTexture::operator=(PictureTexture&& other) noexcept {
  if (this != &other) {
    Release();
    id_ = std::exchange(other.id_, 0);
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
  }
  return *this;
}

void PictureTexture::Release() {
  if (id_ != 0) {
    GLuint id = id_;
    glDeleteTextures(1, &id);
    id_ = 0;
  }
}

void PictureTexture::Upload(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) {
    return;
  }
  if (id_ == 0) {
    GLuint id = 0;
    glGenTextures(1, &id);
    id_ = id;
  }
  glBindTexture(GL_TEXTURE_2D, id_);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  // Rows are blue, green, red from the top, as the texture's rows run.
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, picture.width, picture.height, 0, GL_BGR, GL_UNSIGNED_BYTE,
               picture.bgr.data());
  width_ = picture.width;
  height_ = picture.height;
}

void* PictureTexture::Id() const {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(id_));
}

}  // namespace zentrope

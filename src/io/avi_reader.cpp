#include "io/avi_reader.h"

#include "image/image.h"

namespace zentrope {

bool avi_image_info(int, const std::string&, AviImageInfo&) {
  return false;
}
bool read_avi_frame(int, const std::string&, Image&, std::string*) {
  return false;
}
bool DecodeAviFrame(const std::uint8_t*, std::size_t, int, Image&, bool, std::string*) {
  return false;
}

}  // namespace zentrope

#include "io/avi_writer.h"

#include "render/zbuffer.h"

namespace zentrope {

struct AviWriter::Movie {};

AviWriter::AviWriter() = default;
AviWriter::~AviWriter() {
  Close();
}

bool AviWriter::write_avi_frame(float, float, float, float, int, const std::string&, const Picture&,
                                const AviCompression&) {
  return false;
}
bool AviWriter::Close() {
  movie_.reset();
  return true;
}
bool AviWriter::IsOpen() const {
  return movie_ != nullptr;
}
int AviWriter::SamplesWritten() const {
  return samples_;
}
const std::string& AviWriter::Reason() const {
  return reason_;
}

}  // namespace zentrope

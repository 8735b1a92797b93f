#include "io/rib_writer.h"

namespace zentrope {

std::array<Vector3, 16> BicubicNet(const RenderPatch&) {
  return {};
}
bool RibWriter::OpenRib(const std::string&, int) {
  return false;
}
bool RibWriter::WriteRibPatches(const Segment&, const Transform&) {
  return false;
}
bool RibWriter::CloseRib() {
  return false;
}

}  // namespace zentrope

#include "io/qtm_writer.h"

namespace zentrope {

QtmPatch ConvertQtmPatch(const RenderPatch&) {
  return {};
}
int QtmTable::Add(const Vector3& v) {
  entries_.push_back(v);
  return static_cast<int>(entries_.size()) - 1;
}
bool QtmWriter::OpenQtm(const std::string&, int) {
  return false;
}
bool QtmWriter::WriteQtmFrame() {
  return false;
}
bool QtmWriter::WriteQtmNode(bool, const Transform&, const Segment&) {
  return false;
}
bool QtmWriter::CloseQtm() {
  return false;
}

}  // namespace zentrope

#include "io/dxf_writer.h"

namespace zentrope {

bool DxfWriter::OpenDxf(const std::string&, int) {
  return false;
}
bool DxfWriter::WriteDxfFace(const Vector3&, const Vector3&, const Vector3&, const Vector3&) {
  return false;
}
bool DxfWriter::CloseDxf() {
  return false;
}
bool DxfWriter::AcceptPiece(const PatchContext&, const Piece& piece) {
  return WriteDxfFace(piece.corners[0], piece.corners[1], piece.corners[2], piece.corners[3]);
}

}  // namespace zentrope

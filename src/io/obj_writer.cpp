#include "io/obj_writer.h"

namespace zentrope {

bool ObjWriter::OpenObj(const std::string&, int) {
  return false;
}
bool ObjWriter::AddObjQuad(const Vector3&, const Vector3&, const Vector3&, const Vector3&) {
  return false;
}
bool ObjWriter::CloseObj() {
  return false;
}
bool ObjWriter::AcceptPiece(const PatchContext&, const Piece& piece) {
  return AddObjQuad(piece.corners[0], piece.corners[1], piece.corners[2], piece.corners[3]);
}

}  // namespace zentrope

// DxfWriter: polygons as DXF "3DFACE" entities, one file per frame. It is a
// tessellation target: every finished piece becomes one face.
#pragma once

#include <string>

#include "core/vector3.h"
#include "io/export_file.h"
#include "render/piece_target.h"

namespace zentrope {

class DxfWriter final : public PieceTarget {
 public:
  // Opens ExportFileName(path, frame, ".dxf") (frame < 0: path as given)
  // and writes the section start.
  bool OpenDxf(const std::string& path, int frame);
  // One face; a triangle repeats a corner. The entity's corners are b, c,
  // d, a: the first corner passed is the entity's fourth. A corner that is
  // not a finite number fails the face and the file.
  bool WriteDxfFace(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d);
  // Ends the section and the file ("EOF" and one byte 255) and puts it in
  // place. False, leaving nothing under the name, when any write failed.
  bool CloseDxf();

  // A piece's corners P0..P3 as one face.
  bool AcceptPiece(const PatchContext& patch, const Piece& piece) override;

  const std::string& FileName() const { return file_.Path(); }
  // Why the file failed: a corner that is not a number, a write error, or
  // the file's own reason.
  const std::string& Reason() const { return reason_.empty() ? file_.Reason() : reason_; }

 private:
  ExportFile file_;
  std::string reason_;
  bool failed_ = false;  // a write or a face failed: the close abandons the file
};

}  // namespace zentrope

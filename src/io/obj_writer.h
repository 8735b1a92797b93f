// ObjWriter: polygons as a Wavefront OBJ file, one per frame: vertices equal
// within 0.0001 are written once, and faces are ordered so that each one
// after the first shares an edge with a face already written. A tessellation
// target: every finished piece is one quad. There is no limit on the number
// of quads; deduplication (a hash of quantised positions) and ordering (an
// edge map) take time close to linear in the number of faces.
#pragma once

#include <string>
#include <vector>

#include "core/vector3.h"
#include "io/export_file.h"
#include "render/piece_target.h"

namespace zentrope {

class ObjWriter final : public PieceTarget {
 public:
  // Opens ExportFileName(path, frame, ".obj") (frame < 0: path as given).
  bool OpenObj(const std::string& path, int frame);
  // Keeps a quad (a triangle repeats a corner) until the file is closed.
  bool AddObjQuad(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d);
  // Writes the shared vertices ("v"), then the faces ("f", 1-based;
  // fewer than three distinct corners give no face), and puts the file in
  // place.
  bool CloseObj();

  bool AcceptPiece(const PatchContext& patch, const Piece& piece) override;

  const std::string& FileName() const { return file_.Path(); }
  // Why the last open, add or close failed: the file's reason, or "out of
  // memory" / "too many faces" when the tables could not be built.
  const std::string& Reason() const { return reason_.empty() ? file_.Reason() : reason_; }

 private:
  void WriteFile();

  ExportFile file_;
  std::vector<Vector3> corners_;  // four per quad
  bool failed_ = false;           // a quad was refused: the close fails
  std::string reason_;
};

}  // namespace zentrope

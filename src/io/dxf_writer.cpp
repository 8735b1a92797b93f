#include "io/dxf_writer.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "io/export_naming.h"

namespace zentrope {

namespace {

bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// One corner as its three groups: x under code, y under code + 10, z under
// code + 20.
bool WriteCorner(std::FILE* f, int code, const Vector3& v) {
  return std::fprintf(f, "%d\n%g\n%d\n%g\n%d\n%g\n", code, static_cast<double>(v.x), code + 10,
                      static_cast<double>(v.y), code + 20, static_cast<double>(v.z)) > 0;
}

}  // namespace

bool DxfWriter::OpenDxf(const std::string& path, int frame) {
  failed_ = false;
  reason_.clear();
  if (!file_.Open(ExportFileName(path, frame, ".dxf"))) {
    return false;
  }
  if (std::fputs("0\nSECTION\n2\nENTITIES\n", file_.Stream()) < 0) {
    failed_ = true;
    reason_ = std::strerror(errno);
  }
  return !failed_;
}

bool DxfWriter::WriteDxfFace(const Vector3& a, const Vector3& b, const Vector3& c,
                             const Vector3& d) {
  if (!file_.IsOpen() || failed_) {
    return false;
  }
  // No reader takes "nan" or "inf" for a coordinate; such a face spoils the
  // file rather than being written.
  if (!Finite(a) || !Finite(b) || !Finite(c) || !Finite(d)) {
    failed_ = true;
    reason_ = "a face corner is not a finite number";
    return false;
  }
  std::FILE* f = file_.Stream();
  // The entity's corners run b, c, d, a.
  const bool ok = std::fputs("0\n3DFACE\n8\n2\n", f) >= 0 && WriteCorner(f, 10, b) &&
                  WriteCorner(f, 11, c) && WriteCorner(f, 12, d) && WriteCorner(f, 13, a);
  if (!ok) {
    failed_ = true;
    reason_ = std::strerror(errno);
  }
  return ok;
}

bool DxfWriter::CloseDxf() {
  if (!file_.IsOpen()) {
    return false;
  }
  // The end marker is one byte 255 after the "EOF" line, with no line end.
  if (failed_ || std::fputs("0\nENDSEC\n0\nEOF\n", file_.Stream()) < 0 ||
      std::fputc(255, file_.Stream()) == EOF) {
    if (reason_.empty()) {
      reason_ = std::strerror(errno);
    }
    file_.Abandon();
    failed_ = false;
    return false;
  }
  return file_.Commit();
}

bool DxfWriter::AcceptPiece(const PatchContext&, const Piece& piece) {
  return WriteDxfFace(piece.corners[0], piece.corners[1], piece.corners[2], piece.corners[3]);
}

}  // namespace zentrope

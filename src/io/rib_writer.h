// RibWriter: segments as RenderMan bicubic patches, one RIB file per frame:
// the header lines, then per segment an attribute block named after it with
// one "Patch \"bicubic\"" statement per patch, whose control net's boundary
// rows and columns are exactly the patch's edge curves.
#pragma once

#include <array>
#include <string>

#include "core/transform.h"
#include "core/vector3.h"
#include "io/export_file.h"
#include "render/render_patch.h"

namespace zentrope {

class Segment;

// The sixteen Bézier control points in four rows of four, u along the rows
// (RenderMan's order, u varying fastest): row 0 runs along slot 1 (P0→P1),
// row 3 along slot 3 (P3→P2), column 0 along slot 4 (P0→P3), column 3 along
// slot 2 (P1→P2). A three-sided patch keeps both inner points of slot 4 at
// corner 1. The four interior points are the discrete Coons blend of the
// boundary (boundary rows and columns blended at thirds, less the bilinear
// blend of the corners), so a bilinear patch is reproduced exactly and a
// flat boundary gives a flat net.
std::array<Vector3, 16> BicubicNet(const RenderPatch& patch);

class RibWriter {
 public:
  // Opens ExportFileName(path, frame, ".rib") (frame < 0: path as given)
  // and writes the header through "WorldBegin". "FrameBegin" states
  // frameNumber when it is given (a single frame exported under its own
  // name), else frame, else 1.
  bool OpenRib(const std::string& path, int frame, int frameNumber = -1);
  // "AttributeBegin", the segment's name ("%s_geometry"), its patches
  // through objectTransform, "AttributeEnd". The caller has made the patch
  // list current.
  bool WriteRibPatches(const Segment& segment, const Transform& objectTransform);
  // "WorldEnd", "FrameEnd" (each block closed inside the one that opened
  // before it) and puts the file in place.
  bool CloseRib();

  const std::string& FileName() const { return file_.Path(); }
  const std::string& Reason() const { return file_.Reason(); }

 private:
  ExportFile file_;
};

}  // namespace zentrope

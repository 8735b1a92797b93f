// QtmWriter: a whole sequence in one QTM file: a FRAME block per frame with
// the transform of every node (CHILD or SIBLING lines, depth first), and,
// after the first frame's nodes, one table of shared control points and
// normals with every patch converted to a 3×3 grid of points and normals.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/transform.h"
#include "core/vector3.h"
#include "io/export_file.h"
#include "io/near_point_grid.h"
#include "render/render_patch.h"

namespace zentrope {

class Segment;

// A patch as nine points and nine normals in rows: corner 1, midpoint of
// slot 1, corner 2; midpoint of slot 4, centre, midpoint of slot 2; corner
// 4, midpoint of slot 3, corner 3 (normals in the same order). The patch's
// tangents are oriented as RenderPatch holds them.
struct QtmPatch {
  std::array<Vector3, 9> points;
  std::array<Vector3, 9> normals;
};
QtmPatch ConvertQtmPatch(const RenderPatch& patch);

// A list of vectors where an entry equal within 0.0001 in every component to
// an earlier one reuses its index (from 0; the earliest such entry's).
class QtmTable {
 public:
  int Add(const Vector3& v);
  const std::vector<Vector3>& Entries() const { return entries_; }
  void Clear();

 private:
  std::vector<Vector3> entries_;
  NearPointGrid grid_;
};

class QtmWriter {
 public:
  // Opens ExportFileName(path, frame, ".qtm") (frame < 0: path as given);
  // the frame counter starts at 0.
  bool OpenQtm(const std::string& path, int frame = -1);
  // "FRAME %d" with the next frame number; the tables gathered during the
  // first frame are written before the second frame starts.
  bool WriteQtmFrame();
  // "CHILD path" for a first child (or the top node), "SIBLING path" for a
  // following sibling, then the transform. During the first frame the
  // segment's patches are converted into the tables (once per segment file;
  // the caller has made its patch list current). Fails before any frame.
  bool WriteQtmNode(bool isChild, const Transform& transform, const Segment& segment);
  // Writes the tables if still pending and puts the file in place.
  bool CloseQtm();

  const std::string& FileName() const { return file_.Path(); }
  // Why the last call failed: the file's reason, or "out of memory" / "no
  // frame started".
  const std::string& Reason() const { return reason_.empty() ? file_.Reason() : reason_; }

 private:
  void ConvertPatches(const Segment& segment);
  void WriteTables();
  bool Fail(const char* reason);

  ExportFile file_;
  std::string reason_;
  int frame_ = 0;
  bool tablesPending_ = false;
  QtmTable points_;
  QtmTable normals_;
  std::vector<std::array<int, 18>> patches_;  // nine point, nine normal indices
  std::vector<std::string> converted_;        // segment files already converted
};

}  // namespace zentrope

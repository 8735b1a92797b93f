#include "io/qtm_writer.h"

#include <algorithm>
#include <new>
#include <optional>

#include "io/export_naming.h"
#include "model/patch.h"
#include "model/segment.h"
#include "render/tessellation.h"

namespace zentrope {

namespace {

constexpr double kSameEntry = 0.0001;

}  // namespace

// The slot tangents in RenderPatch's fields (orientation bits applied):
// slot 1 runs P0→P1 with A1 = t0u, B1 = t1u; slot 2 runs P1→P2 with
// A2 = t1v, B2 = t2v; slot 3 runs P3→P2 with A3 = t3u, B3 = t2u; slot 4 runs
// P0→P3 with A4 = t0v, B4 = t3v. So the corner normals U1 = A4 × A1,
// U2 = A2 × B1, U3 = B2 × B3, U4 = B4 × A3 (three-sided: U1 = A3 × A1 = U4)
// are the tessellator's CornerNormals, and its halving gives the rest.
QtmPatch ConvertQtmPatch(const RenderPatch& patch) {
  const SplitEntry whole{patch, CornerNormals(patch), 0};
  const std::array<Vector3, 4>& u = whole.normals;

  // Across the u edges: the midpoints of slots 1 and 3 (M01, M32).
  SplitEntry uLow, uHigh;
  HalveU(whole, uLow, uHigh);
  // Across the v edges: the midpoints of slots 2 and 4 (M12, M03).
  SplitEntry vLow, vHigh;
  HalveV(whole, vLow, vHigh);
  // The centre twice: the middle of the cut M01→M32, and of the cut M03→M12.
  SplitEntry a, b;
  HalveV(uLow, a, b);
  const Vector3 centreU = a.patch.p[2];
  const Vector3 normalU = a.normals[2];
  HalveU(vLow, a, b);
  const Vector3 centreV = a.patch.p[2];
  const Vector3 normalV = a.normals[2];

  const Vector3 m01 = uLow.patch.p[1], m32 = uLow.patch.p[2];
  const Vector3 m12 = vLow.patch.p[2], m03 = vLow.patch.p[3];
  Vector3 n01 = uLow.normals[1], n32 = uLow.normals[2];
  Vector3 n12 = vLow.normals[2], n03 = vLow.normals[3];
  if (patch.ThreeSided()) {
    // Slot 4 is corner 1 itself, whose normal is U1.
    n03 = u[0];
  }
  QtmPatch q;
  q.points = {patch.p[0], m01,        patch.p[1], m03,       (centreU + centreV) * 0.5f,
              m12,        patch.p[3], m32,        patch.p[2]};
  q.normals = {u[0], n01, u[1], n03, Normalized((normalU + normalV) * 0.5f), n12, u[3], n32, u[2]};
  return q;
}

int QtmTable::Add(const Vector3& v) {
  const std::int64_t match = grid_.FindEarliest(v);
  if (match >= 0) {
    return static_cast<int>(match);
  }
  const auto index = static_cast<int>(entries_.size());
  entries_.push_back(v);
  grid_.Add(v, index);
  return index;
}

void QtmTable::Clear() {
  entries_ = {};
  grid_ = NearPointGrid(kSameEntry);
}

bool QtmWriter::Fail(const char* reason) {
  reason_ = reason;
  file_.Abandon();
  points_.Clear();
  normals_.Clear();
  patches_ = {};
  converted_ = {};
  return false;
}

bool QtmWriter::OpenQtm(const std::string& path, int frame) {
  frame_ = 0;
  tablesPending_ = false;
  reason_.clear();
  points_.Clear();
  normals_.Clear();
  patches_ = {};
  converted_ = {};
  return file_.Open(ExportFileName(path, frame, ".qtm"));
}

void QtmWriter::WriteTables() {
  std::FILE* out = file_.Stream();
  const auto print = [out](const char* title, const std::vector<Vector3>& entries) {
    std::fprintf(out, "%s %d\n", title, static_cast<int>(entries.size()));
    for (const Vector3& v : entries) {
      std::fprintf(out, "%f %f %f\n", static_cast<double>(v.x), static_cast<double>(v.y),
                   static_cast<double>(v.z));
    }
  };
  print("CONTROL POINTS", points_.Entries());
  print("NORMALS", normals_.Entries());
  std::fprintf(out, "QTMS %d\n", static_cast<int>(patches_.size()));
  for (const std::array<int, 18>& p : patches_) {
    std::fputc('c', out);
    for (int k = 0; k < 9; ++k) {
      std::fprintf(out, " %d", p[static_cast<std::size_t>(k)]);
    }
    std::fputs("\nn", out);
    for (int k = 9; k < 18; ++k) {
      std::fprintf(out, " %d", p[static_cast<std::size_t>(k)]);
    }
    std::fputc('\n', out);
  }
  tablesPending_ = false;
  points_.Clear();
  normals_.Clear();
  patches_ = {};
  converted_ = {};
}

bool QtmWriter::WriteQtmFrame() {
  if (!file_.IsOpen()) {
    return false;
  }
  if (tablesPending_) {
    WriteTables();
  }
  ++frame_;
  tablesPending_ = frame_ == 1;
  std::fprintf(file_.Stream(), "FRAME %d\n", frame_);
  return true;
}

void QtmWriter::ConvertPatches(const Segment& segment) {
  if (!segment.path.empty()) {
    if (std::find(converted_.begin(), converted_.end(), segment.path) != converted_.end()) {
      return;
    }
    converted_.push_back(segment.path);
  }
  for (const Patch& patch : segment.patches) {
    // Segment space: the node's transform places it.
    const std::optional<RenderPatch> r = BuildRenderPatch(patch, Transform::Identity());
    if (!r) {
      continue;  // a hidden corner: not drawn, not exported
    }
    const QtmPatch q = ConvertQtmPatch(*r);
    std::array<int, 18> indices{};
    for (std::size_t k = 0; k < 9; ++k) {
      indices[k] = points_.Add(q.points[k]);
      indices[9 + k] = normals_.Add(q.normals[k]);
    }
    patches_.push_back(indices);
  }
}

bool QtmWriter::WriteQtmNode(bool isChild, const Transform& transform, const Segment& segment) {
  if (!file_.IsOpen()) {
    return false;
  }
  if (frame_ == 0) {
    return Fail("no frame started");
  }
  std::FILE* out = file_.Stream();
  std::fprintf(out, "%s %s\nTRANSFORM\n", isChild ? "CHILD" : "SIBLING", segment.path.c_str());
  const std::array<float, 12>& t = transform.t;
  for (std::size_t row = 0; row < 3; ++row) {
    std::fprintf(out, "%g %g %g 0\n", static_cast<double>(t[3 * row]),
                 static_cast<double>(t[3 * row + 1]), static_cast<double>(t[3 * row + 2]));
  }
  std::fprintf(out, "%g %g %g 1\n", static_cast<double>(t[9]), static_cast<double>(t[10]),
               static_cast<double>(t[11]));
  if (frame_ == 1) {
    try {
      ConvertPatches(segment);
    } catch (const std::bad_alloc&) {
      return Fail("out of memory");
    }
  }
  return true;
}

bool QtmWriter::CloseQtm() {
  if (!file_.IsOpen()) {
    return false;
  }
  if (tablesPending_) {
    WriteTables();
  }
  return file_.Commit();
}

}  // namespace zentrope

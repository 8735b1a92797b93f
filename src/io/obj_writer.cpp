#include "io/obj_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <new>
#include <queue>
#include <stdexcept>

#include "io/export_naming.h"
#include "io/near_point_grid.h"

namespace zentrope {

namespace {

constexpr double kSameVertex = 0.0001;
// Vertex indices are 32-bit in the tables.
constexpr std::size_t kMostCorners = 0x7FFFFFF0;

// A face as its distinct vertex indices (1-based) in corner order.
struct ObjFace {
  std::array<std::int32_t, 4> v{};
  int n = 0;
};

// Index of each corner: a corner near an earlier corner (within kSameVertex
// in every component) takes the earliest such corner's index; the others
// are numbered from 1 in order. The unique positions are returned in index
// order.
std::vector<std::int32_t> ShareVertices(const std::vector<Vector3>& corners,
                                        std::vector<Vector3>& unique) {
  std::vector<std::int32_t> index(corners.size());
  NearPointGrid grid(kSameVertex);
  grid.Reserve(corners.size() / 4);  // a closed quad mesh shares each corner about four ways
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const Vector3& p = corners[i];
    const std::int64_t match = grid.FindEarliest(p);
    if (match >= 0) {
      index[i] = index[static_cast<std::size_t>(match)];
      // A corner exactly on its match can never be anyone's earliest match:
      // whatever is near it is near the earlier one.
      if (corners[static_cast<std::size_t>(match)] == p) {
        continue;
      }
    } else {
      unique.push_back(p);
      index[i] = static_cast<std::int32_t>(unique.size());
    }
    grid.Add(p, static_cast<std::int64_t>(i));
  }
  return index;
}

// Faces with three or four distinct corners; the others make no face.
std::vector<ObjFace> DistinctFaces(const std::vector<std::int32_t>& index) {
  std::vector<ObjFace> faces;
  faces.reserve(index.size() / 4);
  for (std::size_t q = 0; q + 3 < index.size(); q += 4) {
    ObjFace f;
    for (std::size_t k = 0; k < 4; ++k) {
      const std::int32_t v = index[q + k];
      if (std::find(f.v.begin(), f.v.begin() + f.n, v) == f.v.begin() + f.n) {
        f.v[static_cast<std::size_t>(f.n++)] = v;
      }
    }
    if (f.n >= 3) {
      faces.push_back(f);
    }
  }
  return faces;
}

// The order faces are written in: each face after the first of a run shares
// an edge with a face already written. It is the order of a waiting list
// retried after every written face: the next face is always the earliest
// unwritten face that touches a written one along an edge, or, when none
// does, the earliest unwritten face (which starts a new run). Faces sharing
// an edge are found through the edge map (edges sorted by their two
// indices), the earliest touching face through a heap.
std::vector<std::size_t> FaceOrder(const std::vector<ObjFace>& faces) {
  const std::size_t count = faces.size();
  // (edge key, face · 4 + side), sorted by key: the faces along one edge
  // are neighbours.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> sides;
  for (std::size_t f = 0; f < count; ++f) {
    const ObjFace& face = faces[f];
    for (int k = 0; k < face.n; ++k) {
      const auto a = static_cast<std::uint32_t>(face.v[static_cast<std::size_t>(k)]);
      const auto b = static_cast<std::uint32_t>(face.v[static_cast<std::size_t>((k + 1) % face.n)]);
      const std::uint64_t key = (std::uint64_t{std::min(a, b)} << 32) | std::max(a, b);
      sides.emplace_back(key, f * 4 + static_cast<std::size_t>(k));
    }
  }
  std::sort(sides.begin(), sides.end());
  // Each side's edge number, and where each edge's run of sides starts.
  std::vector<std::uint32_t> edgeOfSide(count * 4, 0);
  std::vector<std::size_t> edgeStart;
  for (std::size_t s = 0; s < sides.size(); ++s) {
    if (s == 0 || sides[s].first != sides[s - 1].first) {
      edgeStart.push_back(s);
    }
    edgeOfSide[sides[s].second] = static_cast<std::uint32_t>(edgeStart.size() - 1);
  }
  edgeStart.push_back(sides.size());

  std::vector<char> written(count, 0), waiting(count, 0), edgeDone(edgeStart.size(), 0);
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> touching;
  std::vector<std::size_t> order;
  order.reserve(count);
  std::size_t firstUnwritten = 0;
  while (order.size() < count) {
    std::size_t next = count;
    while (!touching.empty()) {
      const std::size_t f = touching.top();
      touching.pop();
      if (!written[f]) {
        next = f;
        break;
      }
    }
    if (next == count) {
      while (written[firstUnwritten]) {
        ++firstUnwritten;
      }
      next = firstUnwritten;
    }
    written[next] = 1;
    order.push_back(next);
    for (int k = 0; k < faces[next].n; ++k) {
      const std::uint32_t edge = edgeOfSide[next * 4 + static_cast<std::size_t>(k)];
      if (edgeDone[edge]) {
        continue;  // its faces are already written or waiting
      }
      edgeDone[edge] = 1;
      for (std::size_t s = edgeStart[edge]; s < edgeStart[edge + 1]; ++s) {
        const std::size_t f = sides[s].second / 4;
        if (!written[f] && !waiting[f]) {
          waiting[f] = 1;
          touching.push(f);
        }
      }
    }
  }
  return order;
}

}  // namespace

bool ObjWriter::OpenObj(const std::string& path, int frame) {
  corners_.clear();
  failed_ = false;
  reason_.clear();
  return file_.Open(ExportFileName(path, frame, ".obj"));
}

bool ObjWriter::AddObjQuad(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d) {
  if (!file_.IsOpen() || failed_) {
    return false;
  }
  if (corners_.size() + 4 > kMostCorners) {
    failed_ = true;
    reason_ = "too many faces";
    return false;
  }
  try {
    corners_.insert(corners_.end(), {a, b, c, d});
  } catch (const std::bad_alloc&) {
    failed_ = true;
    reason_ = "out of memory";
    return false;
  }
  return true;
}

void ObjWriter::WriteFile() {
  std::vector<Vector3> unique;
  const std::vector<std::int32_t> index = ShareVertices(corners_, unique);
  const std::vector<ObjFace> faces = DistinctFaces(index);
  const std::vector<std::size_t> order = FaceOrder(faces);

  std::FILE* out = file_.Stream();
  for (const Vector3& v : unique) {
    std::fprintf(out, "v %g %g %g\n", static_cast<double>(v.x), static_cast<double>(v.y),
                 static_cast<double>(v.z));
  }
  for (const std::size_t f : order) {
    const ObjFace& face = faces[f];
    if (face.n == 3) {
      std::fprintf(out, "f %d %d %d\n", face.v[0], face.v[1], face.v[2]);
    } else {
      std::fprintf(out, "f %d %d %d %d\n", face.v[0], face.v[1], face.v[2], face.v[3]);
    }
  }
  // A write error is found by the commit, which says why.
}

bool ObjWriter::CloseObj() {
  if (!file_.IsOpen()) {
    return false;
  }
  bool ok = !failed_;
  if (ok) {
    try {
      WriteFile();
    } catch (const std::bad_alloc&) {
      reason_ = "out of memory";
      ok = false;
    } catch (const std::length_error&) {
      reason_ = "out of memory";
      ok = false;
    }
  }
  corners_.clear();
  corners_.shrink_to_fit();
  if (!ok) {
    file_.Abandon();
    return false;
  }
  return file_.Commit();
}

bool ObjWriter::AcceptPiece(const PatchContext&, const Piece& piece) {
  return AddObjQuad(piece.corners[0], piece.corners[1], piece.corners[2], piece.corners[3]);
}

}  // namespace zentrope

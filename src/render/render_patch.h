// RenderPatch: a patch's working copy for tessellation, four corners and the
// eight edge tangents (both of an edge oriented from its first corner to its
// second) with the piece's u and v range within the undivided patch. Edges:
// P0→P1 and P3→P2 are the u edges, P0→P3 and P1→P2 the v edges.
#pragma once

#include <array>

#include "core/vector3.h"

namespace zentrope {

struct RenderPatch {
  std::array<Vector3, 4> p;
  Vector3 t0u, t1v, t3u, t0v, t1u, t2v, t2u, t3v;
  float uLo = 0.0f, uHi = 1.0f, vLo = 0.0f, vHi = 1.0f;

  // A three-sided patch repeats its first corner as the fourth.
  bool ThreeSided() const { return p[0] == p[3]; }
};

// A patch with straight edges through four corners: each edge's tangents
// are its chord (P3 = P0 makes it three-sided).
inline RenderPatch FlatRenderPatch(const std::array<Vector3, 4>& corners) {
  RenderPatch r;
  r.p = corners;
  r.t0u = r.t1u = corners[1] - corners[0];
  r.t3u = r.t2u = corners[2] - corners[3];
  r.t0v = r.t3v = corners[3] - corners[0];
  r.t1v = r.t2v = corners[2] - corners[1];
  return r;
}

}  // namespace zentrope

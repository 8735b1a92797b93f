// Patches the raytracer's tests are built from: flat squares across z and a
// quarter cylinder whose curved edges are circular arcs.
#pragma once

#include "render/render_patch.h"

namespace zentrope::testing {

// A flat square in the plane z = z0 from (x0, y0) to (x1, y1).
inline RenderPatch Square(float x0, float y0, float x1, float y1, float z0) {
  return FlatRenderPatch(
      {Vector3{x0, y0, z0}, Vector3{x1, y0, z0}, Vector3{x1, y1, z0}, Vector3{x0, y1, z0}});
}

// A square of side 2·h centred on (x, y) at depth z.
inline RenderPatch SquareAt(float x, float y, float z, float h = 1.0f) {
  return Square(x - h, y - h, x + h, y + h, z);
}

// A quarter of the cylinder x² + z² = R² from angle 0 (P0 = (R, y0, 0)) to
// 90 degrees (P1 = (0, y0, R)), height H along y: the u edges are circular
// arcs (Bézier handles 0.5523·R, within 0.03 % of the circle), the v edges
// straight.
inline RenderPatch QuarterCylinder(float radius, float height, float y0 = 0.0f) {
  const float k = 3.0f * 0.55228475f * radius;  // tangent = 3 × handle
  RenderPatch r;
  r.p = {Vector3{radius, y0, 0}, Vector3{0, y0, radius}, Vector3{0, y0 + height, radius},
         Vector3{radius, y0 + height, 0}};
  r.t0u = r.t3u = {0, 0, k};
  r.t1u = r.t2u = {-k, 0, 0};
  r.t0v = r.t3v = r.t1v = r.t2v = {0, height, 0};
  return r;
}

}  // namespace zentrope::testing

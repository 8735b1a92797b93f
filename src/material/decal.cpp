// Decals seen from the renderer: which mapped patch a piece lies on, where a
// point of the patch falls in the decal picture, and the picture there.
#include "material/decal.h"

#include <algorithm>
#include <cmath>

namespace zentrope {

namespace {

// A corner's decal point and its derivatives along u and v.
const Vector3& Point(const MappedPatch& m, int corner) {
  return m.coords[static_cast<std::size_t>(corner * 3)];
}
const Vector3& AlongU(const MappedPatch& m, int corner) {
  return m.coords[static_cast<std::size_t>(corner * 3 + 1)];
}
const Vector3& AlongV(const MappedPatch& m, int corner) {
  return m.coords[static_cast<std::size_t>(corner * 3 + 2)];
}

bool IsZero(const Vector3& v) {
  return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}

// A boundary curve from a to b at t: the cubic with end derivatives da and
// db (the Bézier a, a + da/3, b − db/3, b), or the straight line when
// neither end has a tangent, so that untangented decals stay linear.
Vector3 Edge(const Vector3& a, const Vector3& da, const Vector3& b, const Vector3& db, float t) {
  if (IsZero(da) && IsZero(db)) {
    return a * (1.0f - t) + b * t;
  }
  const float s = 1.0f - t;
  const float h00 = (1.0f + 2.0f * t) * s * s;
  const float h10 = t * s * s;
  const float h01 = t * t * (3.0f - 2.0f * t);
  const float h11 = -t * t * s;
  return a * h00 + da * h10 + b * h01 + db * h11;
}

}  // namespace

const MappedPatch* FindMappedPatch(const SurfaceMap& decal,
                                   const std::array<std::int32_t, 4>& cornerWords) {
  // Keys and corner words are both the patch's corner numbers in the order
  // the patch search writes them; the first two name the patch.
  for (const MappedPatch& m : decal.patches) {
    if (m.key[0] == cornerWords[0] && m.key[1] == cornerWords[1]) {
      return &m;
    }
  }
  return nullptr;
}

std::array<float, 2> DecalPosition(const MappedPatch& mapped, float u, float v) {
  // Corner i of the patch is D(i): corner 1 at (0, 0), 2 at (1, 0), 3 at
  // (1, 1), 4 at (0, 1). The four boundary curves are blended as a Coons
  // surface: the two u edges and the two v edges less the bilinear corners.
  const Vector3& d1 = Point(mapped, 0);
  const Vector3& d2 = Point(mapped, 1);
  const Vector3& d3 = Point(mapped, 2);
  const Vector3& d4 = Point(mapped, 3);
  const Vector3 bottom = Edge(d1, AlongU(mapped, 0), d2, AlongU(mapped, 1), u);
  const Vector3 top = Edge(d4, AlongU(mapped, 3), d3, AlongU(mapped, 2), u);
  const Vector3 left = Edge(d1, AlongV(mapped, 0), d4, AlongV(mapped, 3), v);
  const Vector3 right = Edge(d2, AlongV(mapped, 1), d3, AlongV(mapped, 2), v);
  const float su = 1.0f - u, sv = 1.0f - v;
  const Vector3 ruled = bottom * sv + top * v + left * su + right * u;
  const Vector3 corners = d1 * (su * sv) + d2 * (u * sv) + d3 * (u * v) + d4 * (su * v);
  const Vector3 p = ruled - corners;
  return {p.x, p.y};
}

MapSample SampleDecal(const SurfaceMap& decal, float x, float y, int) {
  const Image* image = decal.image.get();
  if (!image || !image->HasPixels() || !std::isfinite(x) || !std::isfinite(y)) {
    return {};
  }
  // The picture covers [0, width] × [0, height]: a decal mapped edge to edge
  // onto a patch reaches its far edge (u or v exactly 1) on the last pixel.
  const float w = image->width, h = image->height;
  if (x < 0.0f || y < 0.0f || x > w || y > h) {
    return {};
  }
  const int column = std::min(static_cast<int>(x), image->width - 1);
  const int row = std::min(static_cast<int>(y), image->height - 1);
  const Pixel p = ImagePixel(*image, column, row);
  MapSample s;
  s.colour = {static_cast<float>(p.c0) / 255.0f, static_cast<float>(p.c1) / 255.0f,
              static_cast<float>(p.c2) / 255.0f};
  s.alpha = image->bytesPerPixel == 4 ? static_cast<float>(p.alpha) / 255.0f : 1.0f;
  const Image* mask = decal.imageCount == 2 ? decal.second.get() : nullptr;
  if (mask && mask->HasPixels() && mask->width > 0 && mask->height > 0) {
    // A mask of another size covers the same picture: scale the position.
    const int mx = std::clamp(column * mask->width / image->width, 0, mask->width - 1);
    const int my = std::clamp(row * mask->height / image->height, 0, mask->height - 1);
    const Pixel m = ImagePixel(*mask, mx, my);
    // A mask is grey: its brightness is the decal's alpha.
    s.alpha = static_cast<float>(m.c0 + m.c1 + m.c2) / (3.0f * 255.0f);
  }
  s.hit = s.alpha >= 0.5f;
  return s;
}

}  // namespace zentrope

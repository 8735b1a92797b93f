// The raytracer's objects: boxes, rays, flat-polygon hits and the lazy
// cutting of curved patches.
#include "render/raytrace_objects.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace zentrope {

namespace {

// Past this many halvings a piece is taken as flat, so that a degenerate
// patch (one whose bulge never falls) cannot be cut forever.
constexpr int kMaxCutLevel = 24;

bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool FinitePatch(const RenderPatch& r) {
  for (const Vector3& p : r.p) {
    if (!Finite(p)) {
      return false;
    }
  }
  return Finite(r.t0u) && Finite(r.t1v) && Finite(r.t3u) && Finite(r.t0v) && Finite(r.t1u) &&
         Finite(r.t2v) && Finite(r.t2u) && Finite(r.t3v) && std::isfinite(r.uLo) &&
         std::isfinite(r.uHi) && std::isfinite(r.vLo) && std::isfinite(r.vHi);
}

// The four Bézier control points of the edge from a to b.
void GrowEdge(Box& box, const Vector3& a, const Vector3& ta, const Vector3& tb, const Vector3& b) {
  box.Grow(a);
  box.Grow(a + ta / 3.0f);
  box.Grow(b - tb / 3.0f);
  box.Grow(b);
}

void GrowEdges(Box& box, const RenderPatch& r) {
  GrowEdge(box, r.p[0], r.t0u, r.t1u, r.p[1]);
  GrowEdge(box, r.p[3], r.t3u, r.t2u, r.p[2]);
  GrowEdge(box, r.p[0], r.t0v, r.t3v, r.p[3]);
  GrowEdge(box, r.p[1], r.t1v, r.t2v, r.p[2]);
}

float LargestMagnitude(const Box& box) {
  return std::max({std::fabs(box.lo.x), std::fabs(box.lo.y), std::fabs(box.lo.z),
                   std::fabs(box.hi.x), std::fabs(box.hi.y), std::fabs(box.hi.z)});
}

void Widen(Box& box, float margin) {
  const Vector3 m{margin, margin, margin};
  box.lo -= m;
  box.hi += m;
}

Vector3 Blend(const Vector3& a, const Vector3& b, const Vector3& c, float wa, float wb, float wc) {
  return a * wa + b * wb + c * wc;
}

}  // namespace

void Box::Grow(const Vector3& p) {
  lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
  hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

void Box::Grow(const Box& b) {
  Grow(b.lo);
  Grow(b.hi);
}

Ray::Ray(const Vector3& from, const Vector3& unitDirection)
    : origin(from), direction(unitDirection) {
  // A zero component (of either sign) gives +inf: the slab test then reads
  // the 0·inf of an origin on a slab plane as "no limit" whatever the sign.
  const auto reciprocal = [](float d) {
    return d == 0.0f ? std::numeric_limits<float>::infinity() : 1.0f / d;
  };
  inverse = {reciprocal(direction.x), reciprocal(direction.y), reciprocal(direction.z)};
}

bool SlabTest(const Box& box, const Ray& ray, float& entry, float& exit) {
  if (box.Empty()) {
    return false;
  }
  return SlabInterval(box, ray, entry, exit);
}

bool IntersectTriangle(const Vector3& p0, const Vector3& e1, const Vector3& e2, const Ray& ray,
                       float tMin, float tMax, float& t, float& b1, float& b2) {
  const Vector3 pv = Cross(ray.direction, e2);
  const float det = Dot(e1, pv);
  if (!(det != 0.0f) || !std::isfinite(det)) {
    return false;  // edge-on or degenerate
  }
  const float inv = 1.0f / det;
  const Vector3 tv = ray.origin - p0;
  // Edges are taken a hair wide: a ray through an edge that two pieces
  // share would otherwise slip between them by rounding, showing the far
  // side of the surface through a seam.
  constexpr float kEdge = 1.0e-5f;
  const float u = Dot(tv, pv) * inv;
  if (!(u >= -kEdge && u <= 1.0f + kEdge)) {
    return false;
  }
  const Vector3 qv = Cross(tv, e1);
  const float v = Dot(ray.direction, qv) * inv;
  if (!(v >= -kEdge && u + v <= 1.0f + kEdge)) {
    return false;
  }
  const float d = Dot(e2, qv) * inv;
  if (!(d >= tMin && d < tMax)) {
    return false;
  }
  t = d;
  b1 = u;
  b2 = v;
  return true;
}

void FinishFlatHit(const RayObject& object, const TriangleHit& at, FlatHit& hit) {
  const RenderPatch& r = object.patch;
  const bool threeSided = r.ThreeSided();
  const float b1 = at.b1, b2 = at.b2;
  const float b0 = 1.0f - b1 - b2;
  const std::array<Vector3, 4>& n = object.normals;
  Vector3 normal;
  float u = 0.0f, v = 0.0f;  // within the piece, 0..1
  Vector3 face;
  if (at.second) {
    // (P0, P2, P3): (0, 0), (1, 1), (0, 1).
    u = b1;
    v = b1 + b2;
    normal = Blend(n[0], n[2], n[3], b0, b1, b2);
    face = Cross(r.p[3] - r.p[0], r.p[2] - r.p[0]);
  } else {
    if (threeSided) {
      // The P0→P3 edge is a point: u runs from it to the P1→P2 edge and v
      // along that edge.
      u = b1 + b2;
      v = u > 0.0f ? b2 / u : 0.5f;
    } else {
      // (P0, P1, P2): (0, 0), (1, 0), (1, 1).
      u = b1 + b2;
      v = b2;
    }
    normal = Blend(n[0], n[1], n[2], b0, b1, b2);
    face = Cross(r.p[2] - r.p[0], r.p[1] - r.p[0]);
  }
  // Corner normals that are zero or cancel leave the face's own; the face
  // is oriented as the corner normals are (v tangent × u tangent).
  const float length = Length(normal);
  if (length > 1.0e-6f && std::isfinite(length)) {
    normal /= length;
  } else {
    normal = face;
    Normalize(normal);
  }
  hit.t = at.t;
  hit.u = r.uLo + std::clamp(u, 0.0f, 1.0f) * (r.uHi - r.uLo);
  hit.v = r.vLo + std::clamp(v, 0.0f, 1.0f) * (r.vHi - r.vLo);
  hit.normal = normal;
}

bool IntersectFlatWithin(const RayObject& object, const Ray& ray, float tMin, float tMax,
                         FlatHit& hit) {
  const RenderPatch& r = object.patch;
  TriangleHit at;
  bool found = IntersectTriangle(r.p[0], r.p[1] - r.p[0], r.p[2] - r.p[0], ray, tMin, tMax, at.t,
                                 at.b1, at.b2);
  if (!r.ThreeSided()) {
    TriangleHit other;
    if (IntersectTriangle(r.p[0], r.p[2] - r.p[0], r.p[3] - r.p[0], ray, tMin, found ? at.t : tMax,
                          other.t, other.b1, other.b2)) {
      other.second = true;
      at = other;
      found = true;
    }
  }
  if (!found) {
    return false;
  }
  FinishFlatHit(object, at, hit);
  return true;
}

bool IntersectFlat(const RayObject& object, const Ray& ray, FlatHit& hit) {
  return IntersectFlatWithin(object, ray, 0.0f, std::numeric_limits<float>::infinity(), hit);
}

Box ObjectBox(const RenderPatch& patch, RaytraceShape shape) {
  Box box;
  if (shape == RaytraceShape::kFlat) {
    for (const Vector3& p : patch.p) {
      box.Grow(p);
    }
    // Room for the rounding of the slab test at a box face.
    Widen(box, LargestMagnitude(box) * 1.0e-6f + 1.0e-6f);
    return box;
  }
  GrowEdges(box, patch);
  // The middle cuts of both directions: the curves a first halving makes.
  SplitEntry whole{patch, {}, 0};
  SplitEntry first, second;
  HalveU(whole, first, second);
  GrowEdge(box, first.patch.p[1], first.patch.t1v, first.patch.t2v, first.patch.p[2]);
  HalveV(whole, first, second);
  GrowEdge(box, first.patch.p[3], first.patch.t3u, first.patch.t2u, first.patch.p[2]);
  Widen(box, ObjectBoxMargin(box));
  return box;
}

float ObjectBoxMargin(const Box& box) {
  const Vector3 size = box.hi - box.lo;
  const float extent = std::max({size.x, size.y, size.z});
  // Deep halves of random patches with handles up to thirty times their
  // chords stayed within 0.03 % of the extent beyond these control points;
  // straightening a nearly straight edge moves it by at most 0.075.
  return 0.125f + extent * 0.002f + LargestMagnitude(box) * 1.0e-6f;
}

namespace {

bool OpaqueNodes(const MaterialNode* node) {
  // Iterative: a material tree may be as deep as the reader allows.
  std::vector<const MaterialNode*> pending{node};
  while (!pending.empty()) {
    const MaterialNode* n = pending.back();
    pending.pop_back();
    if (!n) {
      continue;
    }
    if (n->kind == NodeKind::kAttribute) {
      for (float t : n->attributes.transparency) {
        if (t != 0.0f) {
          return false;
        }
      }
    }
    pending.push_back(n->first.get());
    pending.push_back(n->second.get());
  }
  return true;
}

}  // namespace

bool SurelyOpaque(const RayShading* shading) {
  if (!shading) {
    return true;
  }
  const Material* material = shading->patch.material;
  if (material && !OpaqueNodes(material->root.get())) {
    return false;
  }
  if (shading->maps) {
    for (const ProjectedMap& map : *shading->maps) {
      if (map.kind == map_kind::kTransparency || map.kind == map_kind::kCookieCut) {
        return false;
      }
    }
  }
  for (const auto& [decal, mapped] : shading->patchDecals) {
    if (decal && decal->kind == map_kind::kCookieCut) {
      return false;
    }
  }
  return true;
}

RayShading& RaytraceObjects::AddShading() {
  return shadings_.emplace_back();
}

namespace {

// Fills a new object from a classified patch with the given (u, v) range.
void FillObject(RayObject& object, const RaytracePatch& prepared, const RenderPatch& range,
                const std::array<Vector3, 4>& normals, const RayShading* shading,
                std::uint8_t flags, int level) {
  object.patch = prepared.patch;
  object.patch.uLo = range.uLo;
  object.patch.uHi = range.uHi;
  object.patch.vLo = range.vLo;
  object.patch.vHi = range.vHi;
  object.shape = level >= kMaxCutLevel ? RaytraceShape::kFlat : prepared.shape;
  object.normals = normals;
  object.shading = shading;
  object.flags = flags;
  object.level = static_cast<std::uint8_t>(level);
  object.box = ObjectBox(object.patch, object.shape);
}

}  // namespace

RayObject* RaytraceObjects::AddPatch(const RenderPatch& patch, const RayShading* shading,
                                     std::uint8_t flags) {
  if (!FinitePatch(patch)) {
    return nullptr;
  }
  if (patch.p[1] == patch.p[0] && patch.p[2] == patch.p[0] && patch.p[3] == patch.p[0]) {
    return nullptr;  // every corner the same: nothing a ray can meet
  }
  if (allOpaque_ && !SurelyOpaque(shading)) {
    allOpaque_ = false;
  }
  const RaytracePatch prepared = PrepareRaytracePatch(patch);
  const std::array<Vector3, 4> normals = CornerNormals(patch);
  try {
    std::lock_guard<std::mutex> lock(arenaMutex_);
    RayObject& object = objects_.emplace_back();
    roots_.push_back(&object);
    RenderPatch range;  // the whole patch: 0..1 both ways
    FillObject(object, prepared, range, normals, shading, flags, 0);
    if (!Finite(object.box.lo) || !Finite(object.box.hi)) {
      roots_.pop_back();
      objects_.pop_back();
      return nullptr;
    }
    return &object;
  } catch (const std::bad_alloc&) {
    outOfMemory_.store(true, std::memory_order_relaxed);
    throw;
  }
}

const RayObject* RaytraceObjects::Halves(const RayObject& object) const {
  if (object.shape == RaytraceShape::kFlat) {
    return nullptr;
  }
  if (const RayObject* done = object.halves.load(std::memory_order_acquire)) {
    return done;
  }
  std::call_once(object.cut, [&] {
    SplitEntry whole{object.patch, object.normals, 0};
    SplitEntry first, second;
    if (object.shape == RaytraceShape::kCurvedVFirst) {
      HalveV(whole, first, second);
    } else {
      HalveU(whole, first, second);
    }
    const int level = object.level + 1;
    HalfPair* pair = nullptr;
    try {
      std::lock_guard<std::mutex> lock(arenaMutex_);
      pair = &halves_.emplace_back();
    } catch (const std::bad_alloc&) {
      outOfMemory_.store(true, std::memory_order_relaxed);
      return;  // the flag is spent: every ray sees no halves
    }
    const SplitEntry* parts[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
      const SplitEntry& part = *parts[i];
      FillObject((*pair)[i], PrepareRaytracePatch(part.patch), part.patch, part.normals,
                 object.shading, object.flags, level);
    }
    object.halves.store(pair->data(), std::memory_order_release);
  });
  return object.halves.load(std::memory_order_acquire);
}

std::size_t RaytraceObjects::Count() const {
  std::lock_guard<std::mutex> lock(arenaMutex_);
  return objects_.size() + 2 * halves_.size();
}

}  // namespace zentrope

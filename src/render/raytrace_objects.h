// The raytracer's objects: each posed patch held as a flat four-cornered
// polygon or as a curved patch that is cut in two (and each half classified
// again) the first time a ray reaches its box. Objects live in an arena with
// stable addresses for the frame; halves are made under a per-object
// once-flag, so whichever thread reaches a curved patch first, every ray
// sees the same halves.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "core/transform.h"
#include "core/vector3.h"
#include "material/attribute_record.h"
#include "render/piece_target.h"
#include "render/render_patch.h"
#include "render/tessellation.h"
#include "render/zbuffer.h"
#include "shell/memory_pool.h"

namespace zentrope {

// An axis-aligned box; the empty box runs from +1e8 to −1e8.
struct Box {
  Vector3 lo{1.0e8f, 1.0e8f, 1.0e8f};
  Vector3 hi{-1.0e8f, -1.0e8f, -1.0e8f};

  void Grow(const Vector3& p);
  void Grow(const Box& b);
  bool Empty() const { return lo.x > hi.x; }
};

// A ray with its direction's reciprocals for the slab test.
struct Ray {
  Vector3 origin;
  Vector3 direction;  // unit length
  Vector3 inverse;    // 1 / direction per axis (+inf for a zero component, −0 included)

  Ray() = default;
  Ray(const Vector3& from, const Vector3& unitDirection);
};

// Entry and exit distances of the ray through the box; false when it misses
// (or the box lies wholly behind the origin). The entry is never below 0
// (an origin inside the box enters at 0).
bool SlabTest(const Box& box, const Ray& ray, float& entry, float& exit);

// SlabTest for a box known not to be empty (the tree's). A zero direction
// component has an infinite reciprocal: an origin outside that slab gives
// entry +inf or exit −inf, one inside gives no limit, and one on a face
// gives 0·inf = NaN, which the comparisons below leave out (the face
// counts as inside).
inline bool SlabInterval(const Box& box, const Ray& ray, float& entry, float& exit) {
  float nearT = 0.0f;
  float farT = 1.0e30f;
  const auto axis = [&](float lo, float hi, float o, float inv) {
    float t1 = (lo - o) * inv;
    float t2 = (hi - o) * inv;
    if (t1 > t2) {
      const float s = t1;
      t1 = t2;
      t2 = s;
    }
    nearT = t1 > nearT ? t1 : nearT;
    farT = t2 < farT ? t2 : farT;
  };
  axis(box.lo.x, box.hi.x, ray.origin.x, ray.inverse.x);
  axis(box.lo.y, box.hi.y, ray.origin.y, ray.inverse.y);
  axis(box.lo.z, box.hi.z, ray.origin.z, ray.inverse.z);
  entry = nearT;
  exit = farT;
  return nearT <= farT;
}

// Flag bits of a patch object.
namespace ray_object_flags {
inline constexpr std::uint8_t kHidden = 0x80;             // never met by rays
inline constexpr std::uint8_t kNoShadows = 0x01;          // receives no shadows
inline constexpr std::uint8_t kTransparentToRays = 0x02;  // rays pass through it
}  // namespace ray_object_flags

// What the pixels of one patch are shaded with: the material (or the
// patch's own colour), the segment's projected maps and decals, and the
// patch's identity for decal lookup. Shared by every object cut from the
// patch; owned by the scene.
struct RayShading {
  PatchContext patch;       // material, patch colour (red, green, blue), corner words
  ColourBgr patchColour{};  // copy of the patch colour, blue, green, red
  bool hasPatchColour = false;
  // World space to the segment's object space, the object transform (its
  // translation offsets and its rotation turns the point pattern nodes
  // see), the segment's projected maps and decals.
  Transform worldToObject;
  Transform objectTransform;
  const std::vector<ProjectedMap>* maps = nullptr;
  const std::vector<SurfaceMap>* decals = nullptr;
  // The decals lying on this patch (found once when the scene is built).
  std::vector<std::pair<const SurfaceMap*, const MappedPatch*>> patchDecals;
};

// One tree object. A flat object is intersected as the triangles
// (P0, P1, P2) and (P0, P2, P3) (one triangle when three-sided); a curved
// one is cut on first contact and its halves take its place.
struct RayObject {
  Box box;
  RaytraceShape shape = RaytraceShape::kFlat;
  std::uint8_t flags = 0;  // ray_object_flags
  std::uint8_t level = 0;  // halvings from the whole patch
  const RayShading* shading = nullptr;
  // Corners, oriented tangents and the (u, v) range within the whole patch,
  // with the corner normals (unit, possibly zero) for smooth shading.
  RenderPatch patch;
  std::array<Vector3, 4> normals{};

  // Curved objects: the two halves once cut (null before), contiguous:
  // halves[0] and halves[1]. Cutting changes no value a ray reads, so the
  // arena hands out const objects and these two stay mutable.
  mutable std::atomic<const RayObject*> halves{nullptr};
  mutable std::once_flag cut;

  RayObject() = default;
  RayObject(const RayObject&) = delete;
  RayObject& operator=(const RayObject&) = delete;
};

// A ray's meeting with a flat object.
struct FlatHit {
  float t = 0.0f;
  float u = 0.0f, v = 0.0f;  // within the whole patch
  Vector3 normal;            // interpolated corner normals (or the face's), unit
};
bool IntersectFlat(const RayObject& object, const Ray& ray, FlatHit& hit);
// The nearest meeting with tMin < t < tMax (the tree's search window).
bool IntersectFlatWithin(const RayObject& object, const Ray& ray, float tMin, float tMax,
                         FlatHit& hit);

// Where a ray meets one triangle of a flat object: the distance, the
// weights of the triangle's second and third corners, and which triangle
// ((P0, P1, P2) or (P0, P2, P3)). The search keeps these for its best hit
// and works out the normal and (u, v) once, at the end.
struct TriangleHit {
  float t = 0.0f;
  float b1 = 0.0f, b2 = 0.0f;
  bool second = false;
};
// One triangle with corner p0 and edges e1, e2 from it: tMin ≤ t < tMax.
// Edges are taken a hair wide, so a ray through an edge two pieces share
// never slips between them by rounding.
bool IntersectTriangle(const Vector3& p0, const Vector3& e1, const Vector3& e2, const Ray& ray,
                       float tMin, float tMax, float& t, float& b1, float& b2);
// The normal and (u, v) of a flat object at a triangle hit.
void FinishFlatHit(const RayObject& object, const TriangleHit& at, FlatHit& hit);

// The objects of a frame, in an arena of stable addresses. Adding and
// cutting may run out of the memory limit: std::bad_alloc (the frame ends
// with a memory code).
class RaytraceObjects {
 public:
  RaytraceObjects() = default;
  RaytraceObjects(const RaytraceObjects&) = delete;
  RaytraceObjects& operator=(const RaytraceObjects&) = delete;

  // A shading record kept for the frame (stable address).
  RayShading& AddShading();
  // Classifies the patch (PrepareRaytracePatch) and adds its object; null
  // when the patch has no extent that can be hit (every corner the same).
  RayObject* AddPatch(const RenderPatch& patch, const RayShading* shading, std::uint8_t flags = 0);

  // The halves of a curved object, cut now when no ray has reached it yet
  // (thread-safe; the same halves whatever thread cuts). Null for a flat
  // object or when the halves could not be allocated (OutOfMemory() turns
  // true).
  const RayObject* Halves(const RayObject& object) const;

  const std::vector<RayObject*>& roots() const { return roots_; }
  // True while every object added is surely opaque (no transparency in its
  // material, no transparency or cookie-cut map or decal): a shadow ray then
  // only asks whether anything is in the way.
  bool AllOpaque() const { return allOpaque_; }
  std::size_t Count() const;  // objects, halves included
  bool OutOfMemory() const { return outOfMemory_.load(std::memory_order_relaxed); }

 private:
  std::deque<RayShading> shadings_;
  mutable std::deque<RayObject, PoolAllocator<RayObject>> objects_;
  // Halves are made in pairs so that a pair is one element.
  using HalfPair = std::array<RayObject, 2>;
  mutable std::deque<HalfPair, PoolAllocator<HalfPair>> halves_;
  mutable std::mutex arenaMutex_;
  std::vector<RayObject*> roots_;
  bool allOpaque_ = true;
  mutable std::atomic<bool> outOfMemory_{false};
};

// True when nothing of the shading can let light through: every attribute
// node of the material without transparency, and no transparency or
// cookie-cut map or decal.
bool SurelyOpaque(const RayShading* shading);

// The box of a curved object: every Bézier control point of its four edges
// and of its two middle cuts, grown by a small margin; a flat object's box
// holds its corners.
Box ObjectBox(const RenderPatch& patch, RaytraceShape shape);
// The margin a curved object's box is grown by: room for the surface of
// deep halves to bulge past the control points of the first cuts, and for
// the straightening of nearly straight edges in the halves.
float ObjectBoxMargin(const Box& controlPoints);

}  // namespace zentrope

// The binnode tree: the frame's patch objects held in a tree of bounding
// boxes, split on the axis where the objects' doubled centres spread most,
// with leaves of at most 8 objects; and the nearest hit along a ray by
// best-first traversal, boxes taken in order of entry distance.
#pragma once

#include <cstdint>
#include <vector>

#include "core/vector3.h"
#include "render/raytrace_objects.h"
#include "shell/memory_pool.h"

namespace zentrope {

// Leaves hold at most this many objects; a node with more is split.
inline constexpr int kLeafObjects = 8;
// Below this spread of doubled centres objects are dealt alternately.
inline constexpr float kDealSpread = 10.0f;
// Distance of "nothing hit".
inline constexpr float kNoHit = 1.0e8f;
// Hits closer to the ray's origin than this are taken for the surface the
// ray leaves, and passed over.
inline constexpr float kSelfHitGuard = 1.0f;

struct Binnode {
  Box box;
  // A leaf: its objects are objects[first .. first + count − 1]. An inner
  // node: its two children are nodes[first] and nodes[first + 1].
  std::int32_t first = 0;
  std::int16_t count = 0;
  bool leaf = true;
};

// Hit record: distance along the ray, the point, the object, the normal
// (unit, as the surface gives it, not yet turned towards the ray), the
// (u, v) within the whole patch, and a flag byte.
struct HitRecord {
  float t = kNoHit;
  Vector3 point;
  const RayObject* object = nullptr;
  Vector3 normal;
  float u = 0.0f, v = 0.0f;
  std::uint8_t flags = 0;
};

class BinnodeTree {
 public:
  // Builds the tree over the objects' roots: 0, 110 when the user pressed
  // Escape (polled while building), 803 when a node cannot be allocated.
  int Build(const RaytraceObjects& objects);

  // The nearest object along the ray (direction unit length) closer than
  // maxDistance + 1.0, skipping hits nearer than 1.0, objects transparent
  // to rays and hidden ones, and `ignore`. Curved objects met are cut (their
  // halves searched in their place).
  bool NearestHit(const Vector3& origin, const Vector3& direction, HitRecord& hit,
                  float maxDistance = kNoHit, const RayObject* ignore = nullptr) const;

  // Whether anything lies along the ray between 1.0 and maxDistance (not
  // included), passing over what NearestHit passes over: the question an
  // opaque scene's shadow ray asks, answered at the first hit found.
  bool AnyHit(const Vector3& origin, const Vector3& direction, float maxDistance,
              const RayObject* ignore = nullptr) const;

  const std::vector<Binnode, PoolAllocator<Binnode>>& nodes() const { return nodes_; }
  const std::vector<const RayObject*, PoolAllocator<const RayObject*>>& leafObjects() const {
    return objects_;
  }
  bool Empty() const { return nodes_.empty(); }

 private:
  // A leaf's object as the search reads it, laid out in leaf order: its
  // box, and for a flat object its first corner and the edges to the
  // others, so a leaf is tested without visiting the objects themselves.
  struct LeafEntry {
    Box box;
    Vector3 p0, e1, e2, e3;  // e3 unused for one triangle
    const RayObject* object = nullptr;
    std::uint8_t kind = 0;  // LeafKind
  };
  enum LeafKind : std::uint8_t { kQuad, kTriangle, kCurved, kPassedOver };
  // The entry of an object (also of a curved object's halves, met in the
  // search rather than in a leaf).
  static LeafEntry EntryOf(const RayObject& object);
  // A curved object taken as its corners' quad (when its halves cannot be
  // made).
  static LeafEntry FlatEntryOf(const RayObject& object);

  const RaytraceObjects* scene_ = nullptr;
  std::vector<Binnode, PoolAllocator<Binnode>> nodes_;  // nodes_[0] is the root
  std::vector<const RayObject*, PoolAllocator<const RayObject*>> objects_;
  std::vector<LeafEntry, PoolAllocator<LeafEntry>> entries_;  // beside objects_
};

// Builds the tree over the frame's objects: 0, 110 (Escape) or 803 (a node
// could not be allocated); the frame loop's name for BinnodeTree::Build.
inline int BuildBinnodeTree(BinnodeTree& tree, const RaytraceObjects& objects) {
  return tree.Build(objects);
}

}  // namespace zentrope

// The raytracer's objects: boxes, rays, flat-polygon hits and the lazy
// cutting of curved patches.
#include "render/raytrace_objects.h"

namespace zentrope {

void Box::Grow(const Vector3& p) {
  lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
  hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

void Box::Grow(const Box& b) {
  Grow(b.lo);
  Grow(b.hi);
}

Ray::Ray(const Vector3& from, const Vector3& unitDirection)
    : origin(from), direction(unitDirection) {}

bool SlabTest(const Box&, const Ray&, float&, float&) {
  return false;
}

bool IntersectFlat(const RayObject&, const Ray&, FlatHit&) {
  return false;
}

RayShading& RaytraceObjects::AddShading() {
  return shadings_.emplace_back();
}

RayObject* RaytraceObjects::AddPatch(const RenderPatch&, const RayShading*, std::uint8_t) {
  return nullptr;
}

const RayObject* RaytraceObjects::Halves(const RayObject&) const {
  return nullptr;
}

std::size_t RaytraceObjects::Count() const {
  return objects_.size();
}

Box ObjectBox(const RenderPatch&, RaytraceShape) {
  return {};
}

}  // namespace zentrope

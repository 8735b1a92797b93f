// Primary rays, TraceRay and ShadeHit.
#include "render/raytracer.h"

namespace zentrope {

RaytraceRect RaytraceRect::ForPicture(int width, int height) {
  RaytraceRect r;
  r.firstColumn = static_cast<std::int16_t>(-(width / 2));
  r.lastColumn = static_cast<std::int16_t>(width - width / 2 - 1);
  r.firstRow = static_cast<std::int16_t>(-(height / 2));
  r.lastRow = static_cast<std::int16_t>(height - height / 2 - 1);
  return r;
}

Raytracer::Raytracer(const RaytraceObjects& objects, const BinnodeTree& tree,
                     const RaytraceSettings& settings)
    : objects_(objects), tree_(tree), settings_(settings) {}

RaySample Raytracer::TracePrimary(float, float, RayPath&) const {
  return {};
}

void Raytracer::PrimaryRay(float, float, Vector3&, Vector3&) const {}

float Raytracer::TraceRay(int, float, const Vector3&, const Vector3&, float, float, RaySample&,
                          RayPath&) const {
  return kNoHit;
}

void Raytracer::ShadeHit(int, float, const Vector3&, const HitRecord&, float, float, RaySample&,
                         RayPath&) const {}

float Raytracer::ShadowRay(const Vector3&, const Vector3&, float, const RayObject*, ColourBgr&,
                           RayPath&) const {
  return 1.0f;
}

AttributeRecord Raytracer::SurfaceAt(const HitRecord&, float) const {
  return {};
}

}  // namespace zentrope

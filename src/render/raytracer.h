// The raytracer's rays: primary rays through a pixel (perspective or
// orthographic), TraceRay following reflection and refraction to depth 20,
// and ShadeHit (ambient, the light types with their attenuation and
// shadows, the specular term, reflection, refraction, fog) at each hit.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/matrix3.h"
#include "core/vector3.h"
#include "material/attribute_record.h"
#include "render/binnode_tree.h"
#include "render/raytrace_objects.h"

namespace zentrope {

// Scene flag bits.
namespace raytrace_scene_flags {
inline constexpr std::uint16_t kShadows = 0x01;
inline constexpr std::uint16_t kReflections = 0x02;
inline constexpr std::uint16_t kFields = 0x04;
inline constexpr std::uint16_t kMultiPass = 0x08;
inline constexpr std::uint16_t kFieldOrder = 0x10;  // set: the rectangle's first row is traced
}  // namespace raytrace_scene_flags

// Output flag bits.
namespace raytrace_output_flags {
inline constexpr std::uint8_t kAlpha = 0x01;          // 32-bit output with alpha
inline constexpr std::uint8_t kShadowPicture = 0x02;  // ".sha" picture
inline constexpr std::uint8_t kDepthPicture = 0x04;   // ".dep" picture
}  // namespace raytrace_output_flags

// Light types; 4..7 are 0..3 casting no shadows.
namespace raytrace_light {
inline constexpr int kDistant = 0;
inline constexpr int kPoint = 1;
inline constexpr int kTube = 2;
inline constexpr int kSpot = 3;
}  // namespace raytrace_light

struct RaytraceLight {
  int type = raytrace_light::kDistant;
  ColourBgr colour{1.0f, 1.0f, 1.0f};  // channel value / 255
  Vector3 position;
  Vector3 direction{0.0f, 0.0f, 1.0f};        // towards the light (distant), or the axis; unit
  float rangeSquared = 1.0e16f;               // attenuation numerator
  float coneLength = 0.0f;                    // spot and tube
  float radius = 0.0f;                        // spot and tube
  float size = 0.0f;                          // multi-pass: how far the light moves between passes
  Matrix3 orientation = Matrix3::Identity();  // the light's own axes (multi-pass offsets)
};

// Render rectangle: columns and rows measured from the view centre, rows
// increasing upwards; a W × H picture is −W/2 .. W − W/2 − 1 by
// −H/2 .. H − H/2 − 1, its top row the last row.
struct RaytraceRect {
  std::int16_t firstColumn = 0;
  std::int16_t firstRow = 0;
  std::int16_t lastColumn = 0;
  std::int16_t lastRow = 0;

  int Width() const { return lastColumn - firstColumn + 1; }
  int Height() const { return lastRow - firstRow + 1; }
  static RaytraceRect ForPicture(int width, int height);
};

struct RaytraceSettings {
  float frame = 1.0f;  // its fraction selects the field or pass
  float aspect = 1.0f;
  std::uint16_t sceneFlags = 0;  // raytrace_scene_flags
  int cameraKind = 1;            // 1 perspective, 2 orthographic
  int antiAlias = 0;             // 0 none, 1 "LOW", 2 "HIGH"
  std::uint8_t outputFlags = 0;  // raytrace_output_flags
  std::vector<RaytraceLight> lights;
  RaytraceRect rect;
  float lens = 0.0f;  // multi-pass only
  float focus = 0.0f;
  float focal = 1.0f;                            // perspective distance in pixels
  float orthoScale = 1.0f;                       // orthographic pixels per unit
  Matrix3 cameraRotation = Matrix3::Identity();  // camera axes (x right, y up, z ahead) to world
  Vector3 cameraPosition;
  float fogDistance = 0.0f;                // 0: no fog
  float ambient = 0.0f;                    // global ambient fraction
  ColourBgr background{0.0f, 0.0f, 0.0f};  // also the fog colour
  bool backgroundPicture = false;          // alpha is then always 255
  int threads = 0;                         // 0: every core
  bool decals = true;                      // decals and pattern nodes evaluated at hits
};

// Ray depth at which TraceRay returns black; reflection and refraction rays
// are traced only below kMaxRayDepth − 1.
inline constexpr int kMaxRayDepth = 20;
// Transparent occluders a shadow ray passes through before the light is
// taken as blocked.
inline constexpr int kMaxShadowLayers = 16;
// A material whose root node carries this flag shows its colour but is
// reported as no hit (distance 1e8, transmission 1).
inline constexpr std::int16_t kMaterialNoDepth = 0x40;

// The surface values at a hit, with what an attribute record does not
// carry: the diffuse factor of a "Diffuse" map and whether a cookie-cut map
// or decal missed there (the surface then has a hole: its transparency is
// −1 on every channel, a non-refracting surface rays pass straight through).
struct RaySurface {
  AttributeRecord values;
  float diffuse = 1.0f;
  bool hole = false;
};

// What one ray brings back.
struct RaySample {
  ColourBgr colour{};         // 0..1 (not yet clamped)
  ColourBgr unshadowed{};     // as if no shadow fell
  float transmission = 1.0f;  // 1 for a miss, 0 on an opaque surface
  float distance = kNoHit;    // of the first hit, 1e8 for none
};

// Rays counted by kind, per thread, summed by the frame.
struct RayCounts {
  std::uint64_t primary = 0;
  std::uint64_t shadow = 0;
  std::uint64_t reflected = 0;
  std::uint64_t refracted = 0;

  std::uint64_t Total() const { return primary + shadow + reflected + refracted; }
  RayCounts& operator+=(const RayCounts& b) {
    primary += b.primary;
    shadow += b.shadow;
    reflected += b.reflected;
    refracted += b.refracted;
    return *this;
  }
};

// State one ray path carries: the inside-a-refracting-body flag (reset for
// each primary ray) and the counters.
struct RayPath {
  bool inside = false;
  RayCounts counts;
};

class Raytracer {
 public:
  // The tree must be built over the objects; both outlive the raytracer.
  Raytracer(const RaytraceObjects& objects, const BinnodeTree& tree,
            const RaytraceSettings& settings);

  // The primary ray through (x, y) of the render rectangle (fractions for
  // extra samples), traced with depth 0, weight 1 and index 1; colour in
  // 0..1, clamped to at most 1.
  RaySample TracePrimary(float x, float y, RayPath& path) const;
  // The ray the pixel (x, y) starts from.
  void PrimaryRay(float x, float y, Vector3& origin, Vector3& direction) const;

  // Follows one ray: black at depth 20 or more, the background when nothing
  // is hit, else the shaded hit. Returns the distance of the hit (1e8 for
  // none, and for a material with flag 0x40).
  float TraceRay(int depth, float weight, const Vector3& origin, const Vector3& direction,
                 float index, float distanceSoFar, RaySample& out, RayPath& path) const;

  // Shading at a hit of the ray (origin, direction): fills out.colour,
  // out.unshadowed and out.transmission.
  void ShadeHit(int depth, float weight, const Vector3& direction, const HitRecord& hit,
                float index, float distanceSoFar, RaySample& out, RayPath& path) const;

  // How much of a light reaches the point: visibility 0 or 1 and the filter
  // colour transparent occluders tint it with.
  float ShadowRay(const Vector3& point, const Vector3& towardsLight, float distance,
                  const RayObject* from, ColourBgr& filter, RayPath& path) const;

  // The surface values at a hit (material, patch colour, maps, decals,
  // pattern nodes), with the texture footprint distance / focal length.
  AttributeRecord SurfaceAt(const HitRecord& hit, float footprint) const;
  // The same with the diffuse factor and the hole flag; bump maps turn
  // *normal when one is given.
  RaySurface SurfaceDetail(const HitRecord& hit, float footprint, Vector3* normal = nullptr) const;

  const RaytraceSettings& settings() const { return settings_; }
  const BinnodeTree& tree() const { return tree_; }
  const RaytraceObjects& objects() const { return objects_; }

 private:
  const RaytraceObjects& objects_;
  const BinnodeTree& tree_;
  const RaytraceSettings& settings_;
};

}  // namespace zentrope

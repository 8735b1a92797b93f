// Projected maps: pictures placed on a segment by a planar, cylindrical or
// spherical projection, each with a kind (what the sample changes: colour,
// transparency, specularity, diffuse factor, ambiance, bump, cookie-cut) and
// a blend factor; sampled at object-space points.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/transform.h"
#include "figure/figure.h"
#include "image/image.h"
#include "material/attribute_record.h"
#include "shell/result.h"

namespace zentrope {

// Kinds, in string-table order.
namespace map_kind {
inline constexpr std::int16_t kNormal = 0;
inline constexpr std::int16_t kTransparency = 1;
inline constexpr std::int16_t kBump = 2;
inline constexpr std::int16_t kSpecular = 9;
inline constexpr std::int16_t kDiffuse = 10;
inline constexpr std::int16_t kReflectivity = 11;
inline constexpr std::int16_t kAmbiance = 16;
inline constexpr std::int16_t kCookieCut = 17;
}  // namespace map_kind

enum class Projection : std::int16_t { kPlanar = 0, kCylindrical = 1, kSpherical = 2 };

struct ProjectedMap {
  std::int16_t kind = map_kind::kNormal;
  Projection projection = Projection::kPlanar;
  float blend = 1.0f;   // 0..1
  Transform placement;  // rotation and translation applied to the point first
  std::shared_ptr<Image> image;
  int firstFrame = 0;  // frame range of an image sequence
  int lastFrame = 0;
};

struct MapSample {
  bool hit = false;
  ColourBgr colour{0.0f, 0.0f, 0.0f};  // blue, green, red, 0..1
  float alpha = 0.0f;
};

// The sample at an object-space point for a frame; a miss when the point
// projects outside the picture.
MapSample SampleProjectedMap(const ProjectedMap& map, const Vector3& objectPoint, int frame,
                             float footprint);

// A bump map's change to a surface normal at the point; false when the
// picture is flat there (the normal is left alone).
bool BumpNormal(const ProjectedMap& map, const Vector3& objectPoint, int frame, Vector3& normal);

// The projected maps a figure gives a segment, their pictures loaded (names
// resolved against the figure's folder). A picture that cannot be loaded
// fails with the image error.
Result<std::vector<ProjectedMap>> LoadProjectedMaps(const std::vector<ProjectionMap>& stored,
                                                    const std::filesystem::path& folder);

}  // namespace zentrope

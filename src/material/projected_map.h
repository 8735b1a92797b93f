// Projected maps: pictures placed on a segment by a planar, cylindrical or
// spherical projection, each with a kind (what the sample changes: colour,
// transparency, specularity, diffuse factor, ambiance, bump, cookie-cut) and
// a blend factor; sampled at object-space points.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
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

// The picture's width spans this many object units across a planar map and
// its height this many times height / width (pixels stay square); the same
// height spans a cylindrical map's band. It is the side of a figure node's
// default bounding box.
inline constexpr float kDefaultMapSize = 20.0f;

// How a stored map reads (the attribute file's lines for one map):
//   type          the kind (map_kind), kept as stored
//   values        the first and last picture numbers of a numbered sequence;
//                 last <= first: one picture, its name used as written
//   second type   the projection (0 planar, 1 cylindrical, 2 spherical;
//                 anything else is planar)
//   amount        the blend factor, clamped to 0..1
//   settings      the map's placement: the three object angles in degrees
//                 as the modeller turns an object (BuildRotation: a0 about
//                 x, a1 about z, a2 about y), then the map's centre x, y
//                 and z in object units
// A planar map looks along −z of its own frame: x across, y up. A
// cylindrical map wraps around its y axis starting at +z, turning towards +x;
// a spherical one the same, with latitude from +y (top row) to −y.
struct ProjectedMap {
  std::int16_t kind = map_kind::kNormal;
  Projection projection = Projection::kPlanar;
  float blend = 1.0f;   // 0..1
  Transform placement;  // rotation and translation applied to the point first
  std::shared_ptr<Image> image;
  int firstFrame = 0;  // frame range of an image sequence
  int lastFrame = 0;
  float size = kDefaultMapSize;  // object units across the picture's width
  std::string imageName;         // the picture's file, the sequence's base name
  int loadedNumber = -1;         // the sequence picture in image, −1 for a single one

  bool Sequence() const { return lastFrame > firstFrame; }
};

struct MapSample {
  bool hit = false;
  ColourBgr colour{0.0f, 0.0f, 0.0f};  // blue, green, red, 0..1
  float alpha = 0.0f;
};

// The map's placement from the six stored settings: rotation angles in
// degrees, then the centre. A point p is placed as R·(p − centre), R turning
// the map's frame back onto the object's axes.
Transform MapPlacement(const std::array<std::int16_t, 6>& settings);

// The picture position (column, row; row 0 at the top, fractional) of an
// object-space point; false when the point lies outside the picture
// (planar outside its rectangle, cylindrical above or below its band).
bool ProjectMapPoint(const ProjectedMap& map, const Vector3& objectPoint, float& column,
                     float& row);

// The sample at an object-space point for a frame; a miss when the point
// projects outside the picture. Reads only the loaded picture, so many
// threads may sample one map at once; PrepareMapFrame changes the picture.
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
// The same, sequences loaded at a frame and planar maps spanning size units.
Result<std::vector<ProjectedMap>> LoadProjectedMaps(const std::vector<ProjectionMap>& stored,
                                                    const std::filesystem::path& folder, int frame,
                                                    float size);

// The number of a sequence's picture shown at a frame (frames count from
// 1): the frame held within the map's range.
int SequenceNumber(const ProjectedMap& map, int frame);

// Loads the picture a sequence shows at a frame, before the frame's pixels
// are sampled (not while other threads sample the map); a single picture
// or one already loaded is kept. Fails with the image error.
bool PrepareMapFrame(ProjectedMap& map, int frame, std::string* error = nullptr);

}  // namespace zentrope

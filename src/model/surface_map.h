// Surface maps: decals placed on a segment's patches, each with its image,
// an optional mask image, placement values and per-patch decal coordinates;
// stored in the segment's .sur file, patches named by corner-number keys.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "model/patch_colours.h"

namespace zentrope {

inline constexpr int kSurfaceVersion = 4;

// For corner i: a point D, a first tangent E and a second tangent F in
// decal space; x and y in pixels of the decal image.
struct MappedPatch {
  PatchKey key{};
  std::array<Vector3, 12> coords{};  // D1, E1, F1, D2, E2, F2, ...
};

struct SurfaceMap {
  // Picture names as held: absolute, or a project name as written.
  std::string imagePath;
  std::shared_ptr<Image> image;
  std::array<std::int16_t, 3> colour{};  // the image's colour triple, 0–255
  std::int16_t kind = 0;
  std::int16_t imageByte = 0;
  float amount = 1.0f;
  std::int16_t imageCount = 1;  // 2: a mask image follows
  std::string secondPath;
  std::shared_ptr<Image> second;
  std::array<std::int16_t, 6> placement{0, 1, 1, 1, 1, 0};
  std::vector<MappedPatch> patches;
};

// Reads versions up to 4, loading every image (paths relative to the
// segment's folder); a failed load fails the read.
Result<std::vector<SurfaceMap>> ParseSurfaceMaps(std::string contents, const std::string& name,
                                                 const std::filesystem::path& segmentFolder);
SaveStatus WriteSurfaceMaps(const std::vector<SurfaceMap>& maps, const std::filesystem::path& file,
                            std::string* detail = nullptr, SaveTransaction* save = nullptr);

}  // namespace zentrope

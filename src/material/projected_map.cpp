// Projected maps: sampling pictures placed on a segment. (Placeholder until
// the projections arrive: every sample misses.)
#include "material/projected_map.h"

namespace zentrope {

MapSample SampleProjectedMap(const ProjectedMap&, const Vector3&, int, float) {
  return {};
}

bool BumpNormal(const ProjectedMap&, const Vector3&, int, Vector3&) {
  return false;
}

Result<std::vector<ProjectedMap>> LoadProjectedMaps(const std::vector<ProjectionMap>&,
                                                    const std::filesystem::path&) {
  return std::vector<ProjectedMap>{};
}

}  // namespace zentrope

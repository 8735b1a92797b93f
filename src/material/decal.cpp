// Decals seen from the renderer. (Placeholder until the decal coordinates
// arrive: no decal lies on any patch.)
#include "material/decal.h"

namespace zentrope {

const MappedPatch* FindMappedPatch(const SurfaceMap&, const std::array<std::int32_t, 4>&) {
  return nullptr;
}

std::array<float, 2> DecalPosition(const MappedPatch&, float, float) {
  return {0.0f, 0.0f};
}

MapSample SampleDecal(const SurfaceMap&, float, float, int) {
  return {};
}

}  // namespace zentrope

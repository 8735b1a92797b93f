// The single-frame raytrace of one model.
#include "render/model_raytrace.h"

namespace zentrope {

int AddSceneObjects(const ModelScene&, bool, RaytraceObjects&) {
  return 0;
}

RaytraceSettings ModelRaytraceSettings(const ModelScene&, const ModelRaytraceOptions&) {
  return {};
}

ModelRaytraceResult RaytraceModel(const ModelScene&, const ModelRaytraceOptions&,
                                  const std::filesystem::path&, const std::filesystem::path&) {
  return {};
}

}  // namespace zentrope

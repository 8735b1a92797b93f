// The raytracer's pixel loops and frame renderer.
#include "render/raytrace_frame.h"

namespace zentrope {

void RaytraceImage::Allocate(const RaytraceSettings& settings) {
  width = settings.rect.Width();
  height = settings.rect.Height();
}

int TracePlainLoop(const RaytraceSettings&, const PixelSampler&, RaytraceImage&, LoopStats&) {
  return 0;
}
int TraceLowLoop(const RaytraceSettings&, const PixelSampler&, RaytraceImage&, LoopStats&) {
  return 0;
}
int TraceHighLoop(const RaytraceSettings&, const PixelSampler&, RaytraceImage&, LoopStats&) {
  return 0;
}
int TraceFieldLoop(const RaytraceSettings&, const PixelSampler&, RaytraceImage&, LoopStats&) {
  return 0;
}
int TraceDepthLoop(const RaytraceSettings&, const Raytracer&, RaytraceImage&, LoopStats&) {
  return 0;
}
int MultiPassIndex(float) {
  return 0;
}
std::vector<RaytraceLight> LightsForPass(const std::vector<RaytraceLight>& lights, int) {
  return lights;
}

RaytraceFrameResult RenderRaytraceFrame(const Raytracer&, int, const std::filesystem::path&,
                                        const std::filesystem::path&) {
  return {};
}

std::filesystem::path DepthPictureName(const std::filesystem::path& output) {
  return std::filesystem::path(output).replace_extension(".dep");
}
std::filesystem::path ShadowPictureName(const std::filesystem::path& output) {
  return std::filesystem::path(output).replace_extension(".sha");
}

}  // namespace zentrope

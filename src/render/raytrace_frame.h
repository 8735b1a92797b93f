// The raytracer's frame: the pixel loops (plain with an adaptive second
// sample, "LOW", the refining "HIGH" loop, fields, multi-pass with moved
// lights, depth only) over the render rectangle, rows in parallel with the
// same bytes whatever the thread count; and the frame renderer that keeps
// the temporary pictures and writes the output Targa with its ".dep" and
// ".sha" pictures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "render/raytracer.h"
#include "shell/memory_pool.h"

namespace zentrope {

// One sample at (x, y) of the render rectangle (fractions for extra
// samples). The loops call it from several threads at once.
using PixelSampler = std::function<RaySample(float x, float y, RayPath& path)>;

// The pictures of a frame as the loops fill them, top row first (the
// rectangle's last row). Memory comes from the main pool.
struct RaytraceImage {
  int width = 0;
  int height = 0;
  // Blue, green, red, alpha per pixel (alpha 255·(1 − mean transmission)).
  std::vector<std::uint8_t, PoolAllocator<std::uint8_t>> bgra;
  // Shadow picture, blue, green, red per pixel: per channel 255·colour /
  // unshadowed colour (255 where the unshadowed channel is 0, and with
  // shadows off); empty unless asked for.
  std::vector<std::uint8_t, PoolAllocator<std::uint8_t>> shadow;
  // Distance of the first hit per pixel (1e8 for none); empty unless asked
  // for.
  std::vector<float, PoolAllocator<float>> depth;

  // Sizes the buffers for the rectangle and the output flags (std::bad_alloc
  // when they do not fit the memory limit).
  void Allocate(const RaytraceSettings& settings);
};

struct LoopStats {
  RayCounts counts;
  std::uint64_t extraSamples = 0;  // samples beyond one per pixel
};

// The pixel loops, over an image sized by Allocate. Each returns 0, 110
// when Escape was pressed (polled before each pixel), or 802 when its own
// buffer (the centres of "LOW" and "HIGH") cannot be had. Rows are traced
// in parallel (settings.threads) and the result is the same byte for byte.
// Stats are added to.
int TracePlainLoop(const RaytraceSettings& settings, const PixelSampler& sample,
                   RaytraceImage& image, LoopStats& stats);
int TraceLowLoop(const RaytraceSettings& settings, const PixelSampler& sample, RaytraceImage& image,
                 LoopStats& stats);
int TraceHighLoop(const RaytraceSettings& settings, const PixelSampler& sample,
                  RaytraceImage& image, LoopStats& stats);
// Every second row; the field order decides whether the rectangle's first
// row is one of them. Other rows are left as they are.
int TraceFieldLoop(const RaytraceSettings& settings, const PixelSampler& sample,
                   RaytraceImage& image, LoopStats& stats);
// Depth only: the distance of the first hit per pixel, no shading.
int TraceDepthLoop(const RaytraceSettings& settings, const Raytracer& tracer, RaytraceImage& image,
                   LoopStats& stats);

// Multi-pass: the pass index of a frame number, round(18 · fraction), 0..8.
int MultiPassIndex(float frame);
// The lights of pass k: lights of type 0..3 with a size move by the pass's
// offset in their own x–y plane; pass 0 keeps them.
std::vector<RaytraceLight> LightsForPass(const std::vector<RaytraceLight>& lights, int pass);

// Frame renderer modes.
namespace raytrace_mode {
inline constexpr int kTemporary = 1;  // the picture stays in the temporary picture
inline constexpr int kOutput = 2;     // written to the output Targa (and .dep, .sha)
inline constexpr int kDepthOnly = 4;  // a pass that writes no picture file
}  // namespace raytrace_mode

struct RaytraceFrameStats {
  LoopStats loop;
  double traceMs = 0.0;
  double writeMs = 0.0;
};

struct RaytraceFrameResult {
  int code = 0;        // 0, 107, 108, 110, 111, 802
  std::string reason;  // the OS's words for 108 and 111
  // The picture that could not be created or written (the output, its
  // ".dep" or ".sha" picture, or a temporary picture) for 108 and 111.
  std::filesystem::path file;
  RaytraceFrameStats stats;
};

// Renders one frame with the tree already built: picks the pixel loop
// (multi-pass, "HIGH", "LOW", fields, depth only in mode 4, else plain),
// keeps the temporary pictures ("temp.tga", "shadow.tga", "noshadow.tga",
// "depth.tga") in tempFolder, and in mode 2 writes the output Targa (24-bit,
// or 32-bit with alpha) and the ".dep" and ".sha" pictures named after it.
// A later field or pass (frame with a fraction) adds to the pictures of the
// first. Nothing is left under the output names when the frame fails.
RaytraceFrameResult RenderRaytraceFrame(const Raytracer& tracer, int mode,
                                        const std::filesystem::path& output,
                                        const std::filesystem::path& tempFolder);
// The same, handing the traced pictures to the caller (kept is filled once
// the pixels are traced, whatever the files then do).
RaytraceFrameResult RenderRaytraceFrame(const Raytracer& tracer, int mode,
                                        const std::filesystem::path& output,
                                        const std::filesystem::path& tempFolder,
                                        RaytraceImage* kept);

// The names of the depth and shadow pictures beside an output picture.
std::filesystem::path DepthPictureName(const std::filesystem::path& output);
std::filesystem::path ShadowPictureName(const std::filesystem::path& output);

}  // namespace zentrope

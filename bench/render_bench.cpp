// The main job's speed: a 10,000-patch vase (a 126-point profile turned into
// 80 sections) rendered by the z-buffer at 640×480, GOURAUD, "SubDivisions" 4
// (40,000 pieces), tessellation included, for 1 and 2 threads. The camera is
// the peers' shared view (eye = c + D·normalize(0.3, 0.8, 1.0), 50 degrees
// across, D = 0.6·r / sin(min field of view / 2)), so the figures compare with
// other rasterisers drawing the same vase.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "peer_vase.h"
#include "render/model_render.h"
#include "shell/memory_pool.h"

namespace {

using namespace zentrope;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct VaseScene {
  ModelScene scene;
  ModelRenderOptions options;
};

VaseScene& Scene() {
  static VaseScene vase = [] {
    MemoryPool::Main().set_limit(std::int64_t{4} << 30);
    VaseScene v;
    AddSceneSegment(v.scene, bench::PeerVase(), Transform::Identity(), NeutralMaterial());
    const Vector3 lo = v.scene.boundsMin;
    const Vector3 hi = v.scene.boundsMax;
    v.options.width = kWidth;
    v.options.height = kHeight;
    v.options.shading = Shading::kGouraud;
    v.options.camera = bench::PeerShotOf(lo, hi, kWidth, kHeight).camera;
    v.options.light = {0.3f, 0.5f, -0.8f};
    v.options.background = {255, 255, 255};
    return v;
  }();
  return vase;
}

void BM_RenderVase(benchmark::State& state) {
  VaseScene& vase = Scene();
  vase.options.threads = static_cast<int>(state.range(0));
  vase.options.shading = static_cast<Shading>(state.range(1));
  double tessellation = 0.0, raster = 0.0;
  std::size_t pieces = 0, covered = 0;
  ModelRenderer renderer;  // kept between frames, as the frame loop keeps it
  for (auto _ : state) {
    ModelRenderResult result = renderer.Render(vase.scene, vase.options);
    tessellation += result.tessellationMs;
    raster += result.rasterMs;
    pieces = result.pieces;
    benchmark::DoNotOptimize(renderer.picture().bgr.data());
  }
  const auto& depth = renderer.picture().depth;
  covered = static_cast<std::size_t>(
      std::count_if(depth.begin(), depth.end(), [](float z) { return z < kFarDepth; }));
  const double n = static_cast<double>(state.iterations());
  state.counters["pieces"] = static_cast<double>(pieces);
  state.counters["pieces_per_s"] = benchmark::Counter(
      static_cast<double>(pieces), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["tessellation_ms"] = tessellation / n;
  state.counters["raster_ms"] = raster / n;
  state.counters["covered_pct"] = 100.0 * static_cast<double>(covered) / (kWidth * kHeight);
}
// Threads, shading (0 FLAT, 1 GOURAUD, 2 PHONG).
BENCHMARK(BM_RenderVase)
    ->ArgNames({"threads", "shading"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->Args({1, 2})
    ->Args({2, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

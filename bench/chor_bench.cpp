// Frame evaluation: a thing on a 100-point path at a frame, and every
// frame of the sample choreography evaluated and posed (both arms, their
// tracks and actions).
#include <benchmark/benchmark.h>

#include <cmath>

#include "chor/choreography_file.h"
#include "chor/frame_evaluation.h"
#include "chor/path_motion.h"
#include "core/spline.h"
#include "shell/memory_pool.h"

namespace {

zentrope::Choreography LongPath() {
  zentrope::Choreography chor = zentrope::NewChoreography();
  chor.scene.length = 1000;
  zentrope::Path path;
  path.name = "long";
  zentrope::ControlPoint* last = nullptr;
  for (int i = 0; i < 100; ++i) {
    zentrope::ControlPoint* k = path.arena.Create();
    k->position = {static_cast<float>(i) * 10.0f, 5.0f * std::sin(static_cast<float>(i)), 0.0f};
    k->prev = last;
    (last ? last->next : path.first) = k;
    last = k;
  }
  zentrope::ComputeSplineTangents(path.first);
  chor.paths.push_back(std::move(path));
  chor.camera->referenceName = "long";
  return chor;
}

void BM_PositionOnPath(benchmark::State& state) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{1} << 30);
  const zentrope::Choreography chor = LongPath();
  float frame = 1.0f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zentrope::position_on_path(chor, chor.camera.get(), frame));
    frame = frame >= 1000.0f ? 1.0f : frame + 7.0f;
  }
}
BENCHMARK(BM_PositionOnPath);

void BM_EvaluateSampleScene(benchmark::State& state) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{1} << 30);
  zentrope::Result<zentrope::Choreography> chor =
      zentrope::read_choreography(std::string(ZENTROPE_SOURCE_DIR) + "/examples/scene.cho");
  if (!chor) {
    state.SkipWithError("examples/scene.cho cannot be read");
    return;
  }
  zentrope::EvaluationOptions draw;
  draw.draw = true;
  if (zentrope::evaluate_figures(zentrope::Transform::Identity(), chor->figures, 1, *chor, draw) !=
      0) {
    state.SkipWithError("the sample scene's figures cannot be loaded");
    return;
  }
  float frame = 1.0f;
  for (auto _ : state) {
    zentrope::evaluate_figures(zentrope::Transform::Identity(), chor->figures, frame, *chor, draw);
    frame = frame >= 60.0f ? 1.0f : frame + 1.0f;
  }
}
BENCHMARK(BM_EvaluateSampleScene);

}  // namespace

BENCHMARK_MAIN();

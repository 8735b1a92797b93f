// Evaluating and posing a 100-node figure whose nodes have all ten skeletal
// channels keyed at 50 keys each.
#include <benchmark/benchmark.h>

#include <string>

#include "anim/action.h"
#include "shell/memory_pool.h"

namespace {

struct Scene {
  zentrope::Figure figure;
  zentrope::Action action;
};

Scene& Build() {
  static Scene scene = [] {
    zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
    Scene s;
    int parent = zentrope::kNoNode;
    for (int i = 0; i < 100; ++i) {
      // A chain with side branches: every fifth node hangs off the root.
      const int at = (i % 5 == 4) ? 0 : parent;
      parent = s.figure.AddGhost(at);
      s.figure.nodes[static_cast<std::size_t>(parent)].name = "node" + std::to_string(i);
      s.figure.nodes[static_cast<std::size_t>(parent)].position = {0, -1, 0};
    }
    for (int n = 0; n < 100; ++n) {
      for (int c = 0; c < 10; ++c) {
        for (int k = 0; k < 50; ++k) {
          const float frame = 1.0f + static_cast<float>(k) * 4.0f;
          const float value = (c >= 3 && c <= 5) ? 100.0f + static_cast<float>(k % 7)
                                                 : static_cast<float>((k * 37 + c * 11) % 90);
          zentrope::SetPoseKey(s.action, s.figure, n, c, frame, value, 0.0f);
        }
      }
    }
    s.action.Bind(s.figure);
    return s;
  }();
  return scene;
}

void BM_PoseFigure100Nodes(benchmark::State& state) {
  Scene& s = Build();
  float frame = 1.0f;
  for (auto _ : state) {
    zentrope::PoseFigure(s.figure, zentrope::Transform::Identity(), {1, 1, 1},
                         zentrope::ActionPose(s.action, frame));
    benchmark::DoNotOptimize(s.figure.nodes.back().frameTransform);
    frame = frame >= 196.0f ? 1.0f : frame + 1.37f;
  }
}
BENCHMARK(BM_PoseFigure100Nodes)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// The z-buffer renderer alone on a 10,000-patch lathe (a torus: 100 profile
// points turned into 100 sections) at 640 × 480, GOURAUD, "SubDivisions" 4:
// 40,000 pieces, tessellated once beforehand. Set-up and rasterisation for 1
// and 2 threads, and set-up alone. Whole frames are timed by render_bench,
// tessellation alone by tessellation_bench.
#include <benchmark/benchmark.h>

#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <cmath>
#include <vector>

#include "core/rotation.h"
#include "model/lathe.h"
#include "model/patch_finder.h"
#include "render/render_settings.h"
#include "render/tessellation.h"
#include "render/zbuffer.h"
#include "shell/memory_pool.h"

namespace {

using namespace zentrope;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr std::size_t kChunkPatches = 250;

struct Scene {
  Segment segment;
  Transform toView;  // object to view space
  std::shared_ptr<Material> material;
  RenderView view;
  SubdivisionSettings subdivision;
};

void Build(Scene* s) {
  MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  std::vector<Vector3> profile;
  for (int i = 0; i < 100; ++i) {
    const float a = 6.2831853f * static_cast<float>(i) / 100.0f;
    profile.push_back({20.0f + 5.0f * std::cos(a), 5.0f * std::sin(a), 0.0f});
  }
  ControlPoint* first = s->segment.Splines().AppendSpline(profile, /*closed=*/true);
  Lathe(s->segment, first, 100);
  s->segment.Renumber();
  s->segment.SplinesEdited();
  FindPatches(s->segment);
  // Tilted 60 degrees about x so the ring is seen three-quarters on, 100
  // units in front of the eye.
  const float c = std::cos(1.0471976f), sn = std::sin(1.0471976f);
  s->toView = Transform::FromParts(Matrix3::FromRows({1, 0, 0}, {0, c, -sn}, {0, sn, c}),
                                   {0.0f, 0.0f, 100.0f});
  AttributeRecord look;
  look.colour = {0.3f, 0.6f, 0.9f};
  look.ambiance = {0.1f, 0.1f, 0.1f};
  look.specularity = 0.5f;
  s->material = MakeAttributeMaterial("bench", look);
  s->view = RenderView::ForPicture(kWidth, kHeight);
  s->view.s = 9.0f;
  s->view.f = 100.0f;
  s->view.flags = render_flags::kZBuffer | render_flags::kSmooth;
  s->view.light = Normalized({-0.577f, 0.577f, -0.577f});
  s->subdivision.fixedLevel = SubdivisionSettings::LevelForPieces(4);
}

Scene& TheScene() {
  static Scene scene;
  static const bool built = (Build(&scene), true);
  (void)built;
  return scene;
}

struct Collected {
  std::vector<PatchContext> contexts;
  std::vector<Piece> pieces;
};

class Collector final : public PieceTarget {
 public:
  explicit Collector(Collected& out) : out_(out) {}
  bool AcceptPiece(const PatchContext& patch, const Piece& piece) override {
    out_.contexts.push_back(patch);
    out_.pieces.push_back(piece);
    return true;
  }

 private:
  Collected& out_;
};

const Collected& Pieces() {
  static const Collected collected = [] {
    Collected c;
    Collector collector(c);
    const Scene& scene = TheScene();
    DrawPatchRange(scene.segment, scene.toView, 0, scene.segment.patches.size(),
                   scene.material.get(), nullptr, scene.subdivision, collector);
    return c;
  }();
  return collected;
}

// Runs f(chunk) for every chunk: in order in this thread for 1 thread, in
// parallel in an arena of that many threads otherwise.
template <class F>
void ForChunks(int threads, std::size_t chunks, F&& f) {
  if (threads == 1) {
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
      f(chunk);
    }
  } else {
    tbb::task_arena arena(threads);
    arena.execute([&] { tbb::parallel_for(std::size_t{0}, chunks, f); });
  }
}

void Report(benchmark::State& state, const ZBufferRenderer& renderer, double pieces) {
  int covered = 0;
  for (float d : renderer.picture().depth) {
    covered += d < kFarDepth ? 1 : 0;
  }
  state.counters["pieces"] = pieces;
  state.counters["pixels"] = covered;
  state.counters["pieces/s"] =
      benchmark::Counter(pieces, benchmark::Counter::kIsIterationInvariantRate);
}

// Set-up and rasterisation of already tessellated pieces.
void BM_ZBufferRaster(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const Scene& scene = TheScene();
  const Collected& in = Pieces();
  ZBufferRenderer renderer(scene.view, kWidth, kHeight, threads);
  const std::size_t chunks = (in.pieces.size() + 4 * kChunkPatches - 1) / (4 * kChunkPatches);
  for (auto _ : state) {
    renderer.BeginFrame();
    renderer.Batches(chunks);
    ForChunks(threads, chunks, [&](std::size_t chunk) {
      const std::size_t first = chunk * 4 * kChunkPatches;
      const std::size_t end = std::min(in.pieces.size(), first + 4 * kChunkPatches);
      for (std::size_t k = first; k < end; ++k) {
        renderer.Batch(chunk).AcceptPiece(in.contexts[k], in.pieces[k]);
      }
    });
    renderer.Finish();
  }
  Report(state, renderer, static_cast<double>(in.pieces.size()));
}
BENCHMARK(BM_ZBufferRaster)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Projection, lighting and binning of already tessellated pieces, without
// rasterising them.
void BM_ZBufferSetUpOnly(benchmark::State& state) {
  const Scene& scene = TheScene();
  const Collected& in = Pieces();
  ZBufferRenderer renderer(scene.view, kWidth, kHeight, 1);
  for (auto _ : state) {
    renderer.BeginFrame();
    for (std::size_t k = 0; k < in.pieces.size(); ++k) {
      renderer.AcceptPiece(in.contexts[k], in.pieces[k]);
    }
  }
  Report(state, renderer, static_cast<double>(in.pieces.size()));
}
BENCHMARK(BM_ZBufferSetUpOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

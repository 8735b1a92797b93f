// The frame window's views: the demo production posed at a frame and drawn
// into an 800 × 600 picture in each view (grid, paths, camera, lights and
// every segment's splines), the way a direction window redraws a view when
// the frame, the view or its size changes; and posing the frame itself,
// which playing adds to each redraw.
#include <benchmark/benchmark.h>

#include <string>

#include "chor/choreography.h"
#include "io/export_scene.h"
#include "render/camera_view.h"
#include "render/view_drawing.h"
#include "shell/memory_pool.h"

namespace {

using namespace zentrope;

constexpr int kWidth = 800;
constexpr int kHeight = 600;

std::string Demo() {
  return std::string(ZENTROPE_SOURCE_DIR) + "/examples/demo/demo.cho";
}

void BM_DrawView(benchmark::State& state) {
  const ViewKind kind = kAllViewKinds[static_cast<std::size_t>(state.range(0))];
  Result<ExportSource> source = ExportSource::Open(Demo());
  if (!source) {
    state.SkipWithError("the demo cannot be opened");
    return;
  }
  Result<ExportScene> posed = source->PoseAt(15.0f);
  if (!posed) {
    state.SkipWithError("the demo cannot be posed");
    return;
  }
  const ViewDecorations decorations = DecorationsAt(*source->choreography(), 15.0f);
  ViewOptions options;
  options.camera =
      CameraFraming(CameraAt(*source->choreography(), 15.0f), posed->scene, kWidth, kHeight);
  Picture picture;
  for (auto _ : state) {
    picture.width = kWidth;
    picture.height = kHeight;
    DrawDocumentView(posed->scene, decorations, InitialViewState(kind), options, picture);
    benchmark::DoNotOptimize(picture.bgr.data());
  }
  state.SetLabel(ViewKindWord(kind));
}
BENCHMARK(BM_DrawView)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);

void BM_PoseFrame(benchmark::State& state) {
  Result<ExportSource> source = ExportSource::Open(Demo());
  if (!source) {
    state.SkipWithError("the demo cannot be opened");
    return;
  }
  float frame = 1.0f;
  for (auto _ : state) {
    Result<ExportScene> posed = source->PoseAt(frame);
    benchmark::DoNotOptimize(posed);
    frame = frame >= 30.0f ? 1.0f : frame + 1.0f;
  }
}
BENCHMARK(BM_PoseFrame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  MemoryPool::Main().set_limit(std::int64_t{8} << 30);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

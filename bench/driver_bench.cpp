// The main job end to end: the demo production's frames rendered at 640×480
// by the render driver and written as PNG frames (or one AVI movie) into a
// folder of the bench's own; z-buffer GOURAUD and raytrace with shadows, on
// 1 and 2 threads. Besides the time per range, each run reports frames per
// second and where the range's time went, as shares of its total: frame
// evaluation (posing, patches found), tessellation, rendering, writing (done
// while the next frame renders) and waiting (the loop standing still for a
// write). Rendering and writing overlap, so the shares may sum past 100.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "io/render_driver.h"
#include "render/render_settings.h"
#include "shell/memory_pool.h"

namespace {

using namespace zentrope;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// The bench's output folder, made once and removed at the end.
const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zentrope-driver-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      return std::filesystem::path();
    }
    return std::filesystem::path(pattern);
  }();
  return folder;
}

// The demo's range with the look the render command gives it by default,
// then the mode of the run.
RenderJob DemoJob(bool raytrace, int frames, int threads, DriverFormat format) {
  MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  const SessionRenderSettings& session = RenderSettingsOfSession();
  RenderJob job;
  job.window = RenderWindow::kDirection;
  job.document = std::string(ZENTROPE_SOURCE_DIR) + "/examples/demo/demo.cho";
  for (int f = 1; f <= frames; ++f) {
    job.frames.push_back(static_cast<float>(f));
  }
  job.mode = raytrace ? RenderMode::kRaytrace : RenderMode::kZBuffer;
  job.shading = Shading::kGouraud;
  job.shadows = raytrace;
  job.antiAlias = AntiAlias::kNone;
  job.showDecals = session.full.showDecals;
  job.defaultLight = session.quick.LightDirection();
  job.width = kWidth;
  job.height = kHeight;
  job.format = format;
  const std::string stem = raytrace ? "ray" : "zbuf";
  job.outputName = format == DriverFormat::kAvi ? (Folder() / (stem + ".avi")).string()
                                                : (Folder() / (stem + "_####.png")).string();
  job.threads = threads;
  return job;
}

void Report(benchmark::State& state, const RenderTimes& sum, int frames) {
  const double total = sum.total > 0.0 ? sum.total : 1.0;
  auto share = [&](double ms) { return benchmark::Counter(100.0 * ms / total); };
  state.counters["fps"] = benchmark::Counter(1000.0 * frames / total);
  state.counters["ms_per_frame"] = benchmark::Counter(total / frames);
  state.counters["eval%"] = share(sum.evaluation);
  state.counters["tess%"] = share(sum.tessellation);
  state.counters["render%"] = share(sum.rendering);
  state.counters["write%"] = share(sum.writing);
  state.counters["wait%"] = share(sum.waiting);
}

// Arguments: raytrace (0 or 1), frames, threads, AVI (0: PNG frames).
void BM_RenderDemo(benchmark::State& state) {
  if (Folder().empty()) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const bool raytrace = state.range(0) != 0;
  const int frames = static_cast<int>(state.range(1));
  const DriverFormat format = state.range(3) != 0 ? DriverFormat::kAvi : DriverFormat::kPng;
  const RenderJob job = DemoJob(raytrace, frames, static_cast<int>(state.range(2)), format);
  RenderProgress quiet;
  RenderTimes sum;
  int rendered = 0;
  for (auto _ : state) {
    const RenderOutcome outcome = render_frames(job, quiet);
    if (!outcome.ok() || outcome.rendered != frames) {
      state.SkipWithError(("the demo did not render: " + outcome.detail).c_str());
      return;
    }
    sum.evaluation += outcome.times.evaluation;
    sum.tessellation += outcome.times.tessellation;
    sum.rendering += outcome.times.rendering;
    sum.writing += outcome.times.writing;
    sum.waiting += outcome.times.waiting;
    sum.total += outcome.times.total;
    rendered += outcome.rendered;
  }
  Report(state, sum, rendered);
}
// The 30 frames of the demo's range; the raytracer takes the first 10 of
// them (its figures are per frame).
BENCHMARK(BM_RenderDemo)
    ->ArgNames({"ray", "frames", "threads", "avi"})
    ->Args({0, 30, 1, 0})
    ->Args({0, 30, 2, 0})
    ->Args({0, 30, 2, 1})
    ->Args({1, 10, 1, 0})
    ->Args({1, 10, 2, 0})
    ->Args({1, 10, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!Folder().empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(Folder(), ignored);
  }
  return 0;
}

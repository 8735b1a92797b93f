// Patch search on a lathed segment: 100 profile points (closed) turned into
// 100 cross sections, 10,000 four-sided patches.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "model/lathe.h"
#include "model/patch_finder.h"
#include "shell/memory_pool.h"

namespace {

zentrope::Segment LathedSegment() {
  zentrope::Segment seg;
  std::vector<zentrope::Vector3> profile;
  for (int i = 0; i < 100; ++i) {
    const float a = 6.2831853f * static_cast<float>(i) / 100.0f;
    profile.push_back({20.0f + 5.0f * std::cos(a), 5.0f * std::sin(a), 0.0f});
  }
  zentrope::ControlPoint* first = seg.Splines().AppendSpline(profile, /*closed=*/true);
  zentrope::Lathe(seg, first, 100);
  seg.Renumber();
  seg.SplinesEdited();
  return seg;
}

void BM_FindPatchesLathe100x100(benchmark::State& state) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  zentrope::Segment seg = LathedSegment();
  std::size_t patches = 0;
  for (auto _ : state) {
    zentrope::FindPatches(seg);
    patches = seg.patches.size();
  }
  state.counters["patches"] = static_cast<double>(patches);
}
BENCHMARK(BM_FindPatchesLathe100x100)->Unit(benchmark::kMillisecond);

void BM_Lathe100x100(benchmark::State& state) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  for (auto _ : state) {
    benchmark::DoNotOptimize(LathedSegment());
  }
}
BENCHMARK(BM_Lathe100x100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

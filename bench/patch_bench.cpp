// Patch search on a lathed segment: 100 profile points (closed) turned into
// 100 cross sections, 10,000 four-sided patches.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "lathed_torus.h"
#include "model/patch_finder.h"
#include "shell/memory_pool.h"

namespace {

zentrope::Segment LathedSegment() {
  zentrope::Segment seg;
  zentrope::bench::LatheTorus(seg);
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

// Spline machinery: tangent recomputation of a whole spline set and segment
// lengths by forward differencing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/spline.h"
#include "model/spline_set.h"
#include "shell/memory_pool.h"

namespace {

zentrope::SplineSet MakeRings(int rings, int pointsPerRing) {
  zentrope::SplineSet set;
  for (int r = 0; r < rings; ++r) {
    std::vector<zentrope::Vector3> pos;
    for (int i = 0; i < pointsPerRing; ++i) {
      const float a = 6.2831853f * static_cast<float>(i) / static_cast<float>(pointsPerRing);
      pos.push_back({std::cos(a) * 10.0f, static_cast<float>(r), std::sin(a) * 10.0f});
    }
    set.AppendSpline(pos, true);
  }
  return set;
}

void BM_ComputeAllTangents(benchmark::State& state) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  zentrope::SplineSet set = MakeRings(100, 100);
  for (auto _ : state) {
    set.ComputeAllTangents();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_ComputeAllTangents);

void BM_SegmentLength(benchmark::State& state) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  zentrope::SplineSet set = MakeRings(1, 100);
  zentrope::ControlPoint* p = set.Splines()[0].first;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zentrope::SegmentLength(*p));
  }
}
BENCHMARK(BM_SegmentLength);

}  // namespace

BENCHMARK_MAIN();

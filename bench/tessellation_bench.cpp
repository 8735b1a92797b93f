// Tessellation of a lathed segment: 100 profile points (closed) turned into
// 100 cross sections, 10,000 four-sided patches, at "SubDivisions" 4 into the
// discarding target (tessellation alone, 40,000 pieces).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "lathed_torus.h"
#include "model/patch_finder.h"
#include "render/tessellation.h"
#include "shell/memory_pool.h"

namespace {

void LatheInto(zentrope::Segment& seg) {
  zentrope::bench::LatheTorus(seg);
  zentrope::FindPatches(seg);
}

// Counts what it is given, so the pieces are not optimised away.
class CountingTarget final : public zentrope::PieceTarget {
 public:
  bool AcceptPiece(const zentrope::PatchContext&, const zentrope::Piece& piece) override {
    sum_ += piece.corners[2].x;
    ++count_;
    return true;
  }
  long count_ = 0;
  float sum_ = 0;
};

void Run(benchmark::State& state, std::uint32_t flags) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  zentrope::Segment seg;
  LatheInto(seg);
  zentrope::SubdivisionSettings sub;
  sub.fixedLevel = zentrope::SubdivisionSettings::LevelForPieces(4);
  CountingTarget counter;
  zentrope::TessellationTargets targets;
  targets.zBuffer = &counter;
  const zentrope::Transform view =
      zentrope::Transform::FromParts(zentrope::Matrix3::Identity(), {0.0f, 0.0f, -100.0f});
  for (auto _ : state) {
    const int code = zentrope::DrawSegmentPatches(seg, view, flags, nullptr, {}, sub, targets);
    benchmark::DoNotOptimize(code);
  }
  benchmark::DoNotOptimize(counter.sum_);
  const double pieces = static_cast<double>(seg.patches.size()) * 4.0;
  state.counters["patches"] = static_cast<double>(seg.patches.size());
  state.counters["pieces/s"] =
      benchmark::Counter(pieces, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_TessellateLatheDiscard(benchmark::State& state) {
  Run(state, zentrope::tessellation_flags::kDiscard);
}
BENCHMARK(BM_TessellateLatheDiscard)->Unit(benchmark::kMillisecond);

// The same into a target that reads each piece (the cost of the virtual call).
void BM_TessellateLatheCounting(benchmark::State& state) {
  Run(state, 0);
}
BENCHMARK(BM_TessellateLatheCounting)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

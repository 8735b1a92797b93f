// Geometry export of a lathed segment: 10,000 four-sided patches at
// "SubDivisions" 4, 40,000 pieces, into OBJ (shared vertices and edge order)
// and DXF files; and the OBJ writer alone on the same count of grid quads.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "io/dxf_writer.h"
#include "io/obj_writer.h"
#include "lathed_torus.h"
#include "model/patch_finder.h"
#include "render/tessellation.h"
#include "shell/memory_pool.h"

namespace {

namespace fs = std::filesystem;

void LatheInto(zentrope::Segment& seg) {
  zentrope::bench::LatheTorus(seg);
  zentrope::FindPatches(seg);
}

// A folder of its own under the system's temporary folder, removed at the end.
struct BenchFolder {
  fs::path path = fs::temp_directory_path() / "zentrope_exchange_bench";
  BenchFolder() { fs::create_directories(path); }
  ~BenchFolder() { fs::remove_all(path); }
};

// Tessellation and the whole file, as `zentrope export` writes it: open,
// the pieces into the writer as the flag routes them, close.
template <typename Writer, typename Open, typename Close>
void ExportLathe(benchmark::State& state, const char* name, std::uint32_t flag,
                 zentrope::PieceTarget* zentrope::TessellationTargets::*target, Open open,
                 Close close) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  zentrope::Segment seg;
  LatheInto(seg);
  zentrope::SubdivisionSettings sub;
  sub.fixedLevel = zentrope::SubdivisionSettings::LevelForPieces(4);
  BenchFolder folder;
  const std::string file = (folder.path / name).string();
  for (auto _ : state) {
    Writer writer;
    zentrope::TessellationTargets targets;
    targets.*target = &writer;
    bool ok = (writer.*open)(file, -1);
    ok = ok && zentrope::DrawSegmentPatches(seg, zentrope::Transform::Identity(), flag, nullptr, {},
                                            sub, targets) == 0;
    ok = ok && (writer.*close)();
    if (!ok) {
      state.SkipWithError("the export failed");
      break;
    }
  }
  state.counters["pieces"] = static_cast<double>(seg.patches.size()) * 4.0;
  state.counters["bytes"] = static_cast<double>(fs::file_size(file));
}

void BM_ExportLatheObj(benchmark::State& state) {
  using zentrope::ObjWriter;
  ExportLathe<ObjWriter>(state, "lathe.obj", zentrope::tessellation_flags::kObjFaces,
                         &zentrope::TessellationTargets::objFaces, &ObjWriter::OpenObj,
                         &ObjWriter::CloseObj);
}
BENCHMARK(BM_ExportLatheObj)->Unit(benchmark::kMillisecond);

// The same pieces as DXF faces: the writer streams, so this is the floor.
void BM_ExportLatheDxf(benchmark::State& state) {
  using zentrope::DxfWriter;
  ExportLathe<DxfWriter>(state, "lathe.dxf", zentrope::tessellation_flags::kDxfFaces,
                         &zentrope::TessellationTargets::dxfFaces, &DxfWriter::OpenDxf,
                         &DxfWriter::CloseDxf);
}
BENCHMARK(BM_ExportLatheDxf)->Unit(benchmark::kMillisecond);

// The OBJ writer alone on an n-by-n grid of quads: the time per quad stays
// flat as n grows when deduplication and ordering are near-linear.
void BM_ObjWriterGrid(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  BenchFolder folder;
  const std::string file = (folder.path / "grid.obj").string();
  for (auto _ : state) {
    zentrope::ObjWriter writer;
    bool ok = writer.OpenObj(file, -1);
    for (int y = 0; y < n && ok; ++y) {
      for (int x = 0; x < n && ok; ++x) {
        const float fx = static_cast<float>(x), fy = static_cast<float>(y);
        ok = writer.AddObjQuad({fx, fy, 0}, {fx + 1, fy, 0}, {fx + 1, fy + 1, 0}, {fx, fy + 1, 0});
      }
    }
    ok = ok && writer.CloseObj();
    if (!ok) {
      state.SkipWithError("the OBJ export failed");
      break;
    }
  }
  state.counters["quads/s"] =
      benchmark::Counter(static_cast<double>(n) * n, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ObjWriterGrid)->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The raytracer's speed on the main job: the 10,000-patch vase (a 126-point
// profile turned into 80 sections) standing on a ground plane, at 640×480,
// with shadows, and with shadows and reflections (reflectivity 0.3 on the
// vase), for 1 and 2 threads. The shot is the peers' shared one: the camera
// at c + D·normalize(0.3, 0.8, 1.0) looking at c, 50 degrees across,
// D = 0.6·r / sin(min field of view / 2), c and r the centre and half
// diagonal of the vase and ground together; one white point light at
// c + r·(1.2, 2.0, 0.8) with no attenuation; a white background. Each frame
// is the whole of a frame's raytrace: objects made from the patches, the
// binnode tree built, every pixel traced and the Targa written.
//
// With ZENTROPE_BENCH_OBJ=FILE.obj the frame's objects (every one flat:
// their corners and corner normals, quads and three-sided triangles) are
// written there first, so the peer renderers can trace the very same mesh.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "material/material.h"
#include "material/material_cache.h"
#include "peer_vase.h"
#include "render/model_raytrace.h"
#include "shell/memory_pool.h"

namespace {

using namespace zentrope;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct VaseScene {
  ModelScene plain;       // the vase in the neutral grey
  ModelScene reflective;  // the same vase, reflectivity 0.3
  std::shared_ptr<const Material> neutral;
  RenderPatch ground;
  ModelRaytraceOptions options;
  std::filesystem::path folder;
};

VaseScene& Scene() {
  static VaseScene vase = [] {
    MemoryPool::Main().set_limit(std::int64_t{4} << 30);
    VaseScene v;
    v.neutral = NeutralMaterial();
    AttributeRecord shiny = NeutralAttributes();
    shiny.reflectivity = {0.3f, 0.3f, 0.3f};
    shiny.mask |= attribute_bits::kReflectivity;
    const std::shared_ptr<Segment> segment = bench::PeerVase();
    AddSceneSegment(v.plain, segment, Transform::Identity(), v.neutral);
    AddSceneSegment(v.reflective, segment, Transform::Identity(),
                    MakeAttributeMaterial("reflective", shiny));

    // The ground: a square under the vase at its lowest y, its half size
    // 2.5 times the larger horizontal half extent.
    Vector3 lo = v.plain.boundsMin;
    Vector3 hi = v.plain.boundsMax;
    const float cx = (lo.x + hi.x) / 2, cz = (lo.z + hi.z) / 2;
    const float h = 2.5f * std::max(hi.x - lo.x, hi.z - lo.z) / 2;
    const float y0 = lo.y;
    v.ground = FlatRenderPatch({Vector3{cx - h, y0, cz + h}, Vector3{cx + h, y0, cz + h},
                                Vector3{cx + h, y0, cz - h}, Vector3{cx - h, y0, cz - h}});
    lo = {std::min(lo.x, cx - h), lo.y, std::min(lo.z, cz - h)};
    hi = {std::max(hi.x, cx + h), hi.y, std::max(hi.z, cz + h)};

    const bench::PeerShot shot = bench::PeerShotOf(lo, hi, kWidth, kHeight);
    v.options.width = kWidth;
    v.options.height = kHeight;
    v.options.camera = shot.camera;
    RaytraceLight light;
    light.type = raytrace_light::kPoint;
    light.position = shot.light;
    light.rangeSquared = 1.0e30f;  // no attenuation
    v.options.lights = {light};
    v.options.background = {255, 255, 255};
    v.options.shadows = true;
    v.folder = std::filesystem::temp_directory_path() /
               ("zentrope_raytrace_bench" + std::to_string(::getpid()));
    std::filesystem::create_directories(v.folder);
    return v;
  }();
  return vase;
}

void BM_RaytraceVase(benchmark::State& state) {
  VaseScene& vase = Scene();
  ModelRaytraceOptions options = vase.options;
  options.threads = static_cast<int>(state.range(0));
  options.reflections = state.range(1) != 0;
  const ModelScene& scene = options.reflections ? vase.reflective : vase.plain;
  const std::filesystem::path output = vase.folder / "vase.tga";
  const RaytraceSettings settings = ModelRaytraceSettings(scene, options);

  double objectsMs = 0.0, treeMs = 0.0, traceMs = 0.0, writeMs = 0.0;
  std::uint64_t rays = 0;
  std::size_t objectsAfter = 0;
  RayShading groundShading;
  groundShading.patch.material = vase.neutral.get();
  for (auto _ : state) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    RaytraceObjects objects;
    if (AddSceneObjects(scene, /*showDecals=*/false, objects) != 0) {
      state.SkipWithError("the objects do not fit the memory limit");
      break;
    }
    objects.AddPatch(vase.ground, &groundShading);
    const auto added = Clock::now();
    BinnodeTree tree;
    if (tree.Build(objects) != 0) {
      state.SkipWithError("the tree does not fit the memory limit");
      break;
    }
    const auto built = Clock::now();
    const Raytracer tracer(objects, tree, settings);
    const RaytraceFrameResult frame =
        RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, vase.folder);
    if (frame.code != 0) {
      state.SkipWithError(("the frame failed with " + std::to_string(frame.code)).c_str());
      break;
    }
    objectsMs += std::chrono::duration<double, std::milli>(added - start).count();
    treeMs += std::chrono::duration<double, std::milli>(built - added).count();
    traceMs += frame.stats.traceMs;
    writeMs += frame.stats.writeMs;
    rays += frame.stats.loop.counts.Total();
    objectsAfter = objects.Count();
  }
  const double n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  state.counters["objects_ms"] = objectsMs / n;
  state.counters["tree_ms"] = treeMs / n;
  state.counters["trace_ms"] = traceMs / n;
  state.counters["write_ms"] = writeMs / n;
  // Rays of every kind (primary, shadow, reflected) per second of tracing.
  state.counters["rays_per_s"] =
      traceMs > 0.0 ? static_cast<double>(rays) / (traceMs / 1000.0) : 0.0;
  state.counters["rays"] = static_cast<double>(rays) / n;
  state.counters["objects_after"] = static_cast<double>(objectsAfter);
}
// Threads, reflections (0 shadows only, 1 shadows and reflections).
BENCHMARK(BM_RaytraceVase)
    ->ArgNames({"threads", "reflections"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Writes the frame's objects as an OBJ mesh; false when some object is
// still curved (it would have no single polygon) or the file fails.
bool WriteObjectsObj(const char* path) {
  VaseScene& vase = Scene();
  RaytraceObjects objects;
  RayShading groundShading;
  groundShading.patch.material = vase.neutral.get();
  if (AddSceneObjects(vase.plain, /*showDecals=*/false, objects) != 0) {
    return false;
  }
  objects.AddPatch(vase.ground, &groundShading);
  std::FILE* out = std::fopen(path, "w");
  if (!out) {
    return false;
  }
  bool ok = true;
  std::size_t next = 1;
  for (const RayObject* o : objects.roots()) {
    if (o->shape != RaytraceShape::kFlat) {
      ok = false;
      break;
    }
    const int corners = o->patch.ThreeSided() ? 3 : 4;
    for (int k = 0; k < corners; ++k) {
      const Vector3& p = o->patch.p[k];
      const Vector3& n = o->normals[k];
      std::fprintf(out, "v %.7g %.7g %.7g\nvn %.7g %.7g %.7g\n", p.x, p.y, p.z, n.x, n.y, n.z);
    }
    std::fputs("f", out);
    for (int k = 0; k < corners; ++k) {
      std::fprintf(out, " %zu//%zu", next + k, next + k);
    }
    std::fputs("\n", out);
    next += static_cast<std::size_t>(corners);
  }
  return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* obj = std::getenv("ZENTROPE_BENCH_OBJ")) {
    if (!WriteObjectsObj(obj)) {
      std::fprintf(stderr, "raytrace_bench: could not write %s\n", obj);
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(Scene().folder, ignored);
  return 0;
}

// The single-frame z-buffer render of one model.
#include "render/model_render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "core/matrix3.h"
#include "render/render_errors.h"

namespace zentrope {
namespace {

// Patches per run: small enough that two threads share the work evenly,
// large enough that a batch's bookkeeping is negligible.
constexpr std::size_t kPatchesPerRun = 256;

struct Run {
  const SceneSegment* segment = nullptr;
  Transform toView;
  std::size_t first = 0;
  std::size_t last = 0;
};

}  // namespace

Transform AffineInverse(const Transform& t) {
  const Matrix3 linear = t.Linear();
  if (Determinant(linear) == 0.0f) {
    return Transform::Identity();
  }
  const Matrix3 inverse = Inverse(linear);
  Transform out = Transform::FromParts(inverse, {});
  const Vector3 back = out.ApplyToPoint(t.Translation());
  out.SetTranslation({-back.x, -back.y, -back.z});
  return out;
}

std::uint16_t ShadingFlags(Shading shading, bool showDecals) {
  std::uint16_t flags = showDecals ? render_flags::kShowDecals : 0;
  switch (shading) {
    case Shading::kFlat:
      flags |= render_flags::kFlat | render_flags::kSmooth;
      break;
    case Shading::kGouraud:
      flags |= render_flags::kSmooth;
      break;
    case Shading::kPhong:
      flags |= render_flags::kPhong;
      break;
  }
  return flags;
}

ModelRenderer::ModelRenderer() = default;
ModelRenderer::~ModelRenderer() = default;

ModelRenderResult ModelRenderer::Render(const ModelScene& scene,
                                        const ModelRenderOptions& options) {
  ModelRenderResult result;
  const int width = std::max(options.width, 1);
  const int height = std::max(options.height, 1);
  const ViewFraming framing = options.camera
                                  ? *options.camera
                                  : FrameFront(scene.boundsMin, scene.boundsMax, width, height);

  RenderView view = RenderView::ForPicture(width, height);
  view.f = framing.focal;
  view.inverse = AffineInverse(framing.worldToView);
  view.light = options.light;
  if (Normalize(view.light) == 0.0f) {
    view.light = {0.0f, 0.0f, -1.0f};  // no direction: light from the eye
  }
  view.flags = ShadingFlags(options.shading, options.showDecals);
  view.frame = options.frame;

  // The renderer and its piece lists are kept from frame to frame, so a
  // sequence of frames allocates only for the first.
  if (!renderer_ || renderer_->picture().width != width || renderer_->picture().height != height ||
      threads_ != options.threads) {
    renderer_.reset();  // its picture's memory goes back before the new one is asked for
    try {
      renderer_ = std::make_unique<ZBufferRenderer>(view, width, height, options.threads);
    } catch (const std::bad_alloc&) {
      // The picture and its depth buffer do not fit the memory limit.
      result.code = render_error::kMemory;
      return result;
    }
    threads_ = options.threads;
  } else {
    renderer_->SetView(view);
  }
  ZBufferRenderer& renderer = *renderer_;
  renderer.BeginFrame(options.background);

  std::vector<Run> runs;
  std::vector<SegmentShading> shadings;
  shadings.reserve(scene.segments.size());
  for (const SceneSegment& s : scene.segments) {
    const Transform toView = framing.worldToView * s.objectTransform;
    SegmentShading shading;
    shading.viewToObject = AffineInverse(toView);
    shading.objectTransform = s.objectTransform;
    shading.maps = &s.maps;
    shading.decals = &s.segment->surfaceMaps;
    shadings.push_back(shading);
    renderer.SetSegmentShading(s.segment.get(), shadings.back());
    const std::size_t count = s.segment->patches.size();
    for (std::size_t first = 0; first < count; first += kPatchesPerRun) {
      runs.push_back({&s, toView, first, std::min(count, first + kPatchesPerRun)});
    }
  }

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  renderer.Batches(runs.size());
  std::vector<int> codes(runs.size(), render_error::kNone);
  const auto tessellate = [&](std::size_t i) {
    const Run& run = runs[i];
    // Patch materials were read with the scene; the threads only look them up.
    const auto& materials = run.segment->patchMaterials;
    const MaterialLookup lookup = [&materials](const std::string& path) -> const Material* {
      const auto found = materials.find(path);
      return found == materials.end() ? nullptr : found->second.get();
    };
    codes[i] =
        DrawPatchRange(*run.segment->segment, run.toView, run.first, run.last,
                       run.segment->material.get(), lookup, options.subdivision, renderer.Batch(i));
  };
  if (options.threads == 1) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
      tessellate(i);
    }
  } else {
    tbb::task_arena arena(options.threads > 0 ? options.threads : tbb::task_arena::automatic);
    arena.execute([&] { tbb::parallel_for(std::size_t{0}, runs.size(), tessellate); });
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    result.pieces += renderer.Batch(i).size();
    if (codes[i] != render_error::kNone) {
      // A batch that could not keep a piece stops its run like an abort; the
      // frame still ends with the memory code.
      result.code = renderer.OutOfMemory() ? render_error::kMemory : codes[i];
      return result;
    }
  }
  const auto tessellated = Clock::now();
  result.code = renderer.Finish();
  const auto finished = Clock::now();
  result.tessellationMs = std::chrono::duration<double, std::milli>(tessellated - start).count();
  result.rasterMs = std::chrono::duration<double, std::milli>(finished - tessellated).count();
  return result;
}

const Picture& ModelRenderer::picture() const {
  static const Picture kEmpty;
  return renderer_ ? renderer_->picture() : kEmpty;
}

Picture& ModelRenderer::picture() {
  static Picture empty;
  return renderer_ ? renderer_->picture() : empty;
}

ModelRenderResult RenderModel(const ModelScene& scene, const ModelRenderOptions& options) {
  ModelRenderer renderer;
  ModelRenderResult result = renderer.Render(scene, options);
  if (result.code == render_error::kNone) {
    // Moved, not copied: a second picture would count against the memory
    // limit again.
    result.picture = std::move(renderer.picture());
  }
  return result;
}

}  // namespace zentrope

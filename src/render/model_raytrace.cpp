// The single-frame raytrace of one model.
#include "render/model_raytrace.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <system_error>

#include "material/decal.h"
#include "model/patch.h"
#include "model/segment.h"
#include "render/model_render.h"
#include "render/render_errors.h"
#include "shell/interrupt.h"

namespace zentrope {
namespace {

// The shading of one patch as the z-buffer resolves it: the segment's
// material, replaced by the patch's own material when it names one that was
// read, or the patch's colour record over the segment's material.
void ResolvePatchShading(const SceneSegment& s, const Patch& patch, std::size_t index,
                         bool showDecals, const Transform& worldToObject, RayShading& shading) {
  const Segment& segment = *s.segment;
  PatchContext& context = shading.patch;
  context.patchNumber = static_cast<int>(index + 1);
  context.segment = &segment;
  context.material = s.material.get();
  context.cornerWords = patch.cornerNumbers;
  const PatchAttribute& attribute = patch.attribute;
  if (attribute.kind == PatchAttribute::Kind::kColour) {
    context.patchColour = &attribute.colour;
    // The record is red, green, blue; the shader works in blue, green, red.
    shading.patchColour = {attribute.colour.z, attribute.colour.y, attribute.colour.x};
    shading.hasPatchColour = true;
  } else if (attribute.kind == PatchAttribute::Kind::kMaterial) {
    const auto found = s.patchMaterials.find(attribute.materialPath);
    if (found != s.patchMaterials.end() && found->second) {
      context.material = found->second.get();
    }
  }
  shading.worldToObject = worldToObject;
  shading.objectTransform = s.objectTransform;
  shading.maps = &s.maps;
  shading.decals = &segment.surfaceMaps;
  if (showDecals) {
    // Found once here rather than at every hit.
    for (const SurfaceMap& decal : segment.surfaceMaps) {
      if (const MappedPatch* mapped = FindMappedPatch(decal, patch.cornerNumbers)) {
        shading.patchDecals.emplace_back(&decal, mapped);
      }
    }
  }
}

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int AddSceneObjects(const ModelScene& scene, bool showDecals, RaytraceObjects& objects) {
  try {
    for (const SceneSegment& s : scene.segments) {
      const Transform worldToObject = AffineInverse(s.objectTransform);
      const auto& patches = s.segment->patches;
      for (std::size_t index = 0; index < patches.size(); ++index) {
        if (escape_pressed()) {
          return render_error::kAborted;
        }
        const Patch& patch = patches[index];
        const std::optional<RenderPatch> renderPatch = BuildRenderPatch(patch, s.objectTransform);
        if (!renderPatch) {
          continue;  // a corner is a hidden point: the patch is not drawn
        }
        RayShading& shading = objects.AddShading();
        ResolvePatchShading(s, patch, index, showDecals, worldToObject, shading);
        objects.AddPatch(*renderPatch, &shading);
      }
    }
  } catch (const std::bad_alloc&) {
    return render_error::kMemory;
  }
  return render_error::kNone;
}

RaytraceSettings ModelRaytraceSettings(const ModelScene& scene,
                                       const ModelRaytraceOptions& options) {
  const int width = std::max(options.width, 1);
  const int height = std::max(options.height, 1);
  const ViewFraming framing = options.camera
                                  ? *options.camera
                                  : FrameFront(scene.boundsMin, scene.boundsMax, width, height);

  RaytraceSettings settings;
  settings.frame = static_cast<float>(options.frame);
  settings.rect = RaytraceRect::ForPicture(width, height);
  // View space is x right, y up and z the depth ahead: the camera's own axes,
  // so the way back to the world gives the camera's rotation and position.
  const Transform viewToWorld = AffineInverse(framing.worldToView);
  settings.cameraKind = 1;
  settings.cameraRotation = viewToWorld.Linear();
  settings.cameraPosition = viewToWorld.Translation();
  settings.focal = framing.focal;
  settings.aspect = 1.0f;

  if (!options.lights.empty()) {
    settings.lights = options.lights;
  } else {
    // The z-buffer's light is given in view axes; turned into the world it
    // lights the same faces.
    Vector3 towards = options.light;
    if (Normalize(towards) == 0.0f) {
      towards = {0.0f, 0.0f, -1.0f};  // no direction: light from the eye
    }
    RaytraceLight light;
    light.type = raytrace_light::kDistant;
    light.direction = settings.cameraRotation * towards;
    if (Normalize(light.direction) == 0.0f) {
      light.direction = {0.0f, 0.0f, 1.0f};  // a singular camera: light from +z
    }
    settings.lights.push_back(light);
  }

  settings.sceneFlags = 0;
  if (options.shadows) {
    settings.sceneFlags |= raytrace_scene_flags::kShadows;
  }
  if (options.reflections) {
    settings.sceneFlags |= raytrace_scene_flags::kReflections;
  }
  settings.antiAlias = static_cast<int>(options.antiAlias);
  settings.outputFlags = 0;
  if (options.alpha) {
    settings.outputFlags |= raytrace_output_flags::kAlpha;
  }
  if (options.shadowPicture) {
    settings.outputFlags |= raytrace_output_flags::kShadowPicture;
  }
  if (options.depthPicture) {
    settings.outputFlags |= raytrace_output_flags::kDepthPicture;
  }
  for (int c = 0; c < 3; ++c) {
    settings.background[static_cast<std::size_t>(c)] =
        static_cast<float>(options.background[static_cast<std::size_t>(c)]) / 255.0f;
  }
  settings.ambient = options.ambient;
  settings.fogDistance =
      std::isfinite(options.fogDistance) ? std::max(options.fogDistance, 0.0f) : 0.0f;
  settings.threads = options.threads;
  return settings;
}

namespace {

ModelRaytraceResult TraceModel(const ModelScene& scene, const ModelRaytraceOptions& options,
                               int mode, const std::filesystem::path& output,
                               const std::filesystem::path& tempFolder, RaytraceImage* kept) {
  using Clock = std::chrono::steady_clock;
  ModelRaytraceResult result;
  try {
    RaytraceObjects objects;
    const auto start = Clock::now();
    result.code = AddSceneObjects(scene, options.showDecals, objects);
    const auto added = Clock::now();
    result.objectsMs = Milliseconds(added - start);
    if (result.code != render_error::kNone) {
      return result;
    }
    BinnodeTree tree;
    result.code = BuildBinnodeTree(tree, objects);
    result.treeMs = Milliseconds(Clock::now() - added);
    if (result.code != render_error::kNone) {
      return result;
    }
    const RaytraceSettings settings = ModelRaytraceSettings(scene, options);
    const Raytracer tracer(objects, tree, settings);
    const RaytraceFrameResult frame = RenderRaytraceFrame(tracer, mode, output, tempFolder, kept);
    result.code = frame.code;
    result.reason = frame.reason;
    result.file = frame.file;
    result.frame = frame.stats;
    result.objects = objects.Count();
  } catch (const std::bad_alloc&) {
    result.code = render_error::kMemory;
  }
  return result;
}

}  // namespace

ModelRaytraceResult RaytraceModel(const ModelScene& scene, const ModelRaytraceOptions& options,
                                  const std::filesystem::path& output,
                                  const std::filesystem::path& tempFolder) {
  return TraceModel(scene, options, raytrace_mode::kOutput, output, tempFolder, nullptr);
}

ModelRaytraceResult RaytraceModelPicture(const ModelScene& scene,
                                         const ModelRaytraceOptions& options,
                                         const std::filesystem::path& tempFolder,
                                         Picture& picture) {
  RaytraceImage image;
  ModelRaytraceResult result = TraceModel(scene, options, raytrace_mode::kTemporary,
                                          tempFolder / "temp.tga", tempFolder, &image);
  if (result.code != render_error::kNone) {
    return result;
  }
  try {
    picture.Reset(image.width, image.height);
    for (std::size_t i = 0, n = static_cast<std::size_t>(image.width) * image.height; i < n; ++i) {
      picture.bgr[3 * i] = image.bgra[4 * i];
      picture.bgr[3 * i + 1] = image.bgra[4 * i + 1];
      picture.bgr[3 * i + 2] = image.bgra[4 * i + 2];
    }
  } catch (const std::bad_alloc&) {
    result.code = render_error::kMemory;
  }
  return result;
}

}  // namespace zentrope

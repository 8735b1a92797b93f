// The raytracer's golden scene and the helpers that render it: the sample
// vase standing on the sample panel laid flat as a ground (its checker decal
// on the back half), seen from above and in front, lit by one distant light
// from the upper left, with shadows; rendered through the frame renderer
// into a Targa and read back as a picture.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/image_file.h"
#include "model/segment_file.h"
#include "render/model_raytrace.h"
#include "render/render_scenes.h"

namespace zentrope::testing {

inline std::filesystem::path ExamplePath(const std::string& name) {
  return std::filesystem::path(ZENTROPE_SOURCE_DIR) / "examples" / name;
}

inline std::shared_ptr<Segment> ExampleSegment(const std::string& name) {
  Result<Segment> segment = OpenSegment(ExamplePath(name).string());
  if (!segment) {
    return nullptr;
  }
  return std::make_shared<Segment>(std::move(*segment));
}

struct RaytraceScene {
  ModelScene scene;
  ModelRaytraceOptions options;
};

// The vase (100 tall, radius 27) in an orange with a highlight; the panel
// (20 × 20 in x–y) turned face up, eight times as large, under it at y = 0.
// With reflections both are mirrors in part.
inline RaytraceScene GoldenRaytraceScene(bool reflective = false) {
  RaytraceScene r;
  AttributeRecord vase;
  vase.colour = {0.2f, 0.5f, 0.9f};
  vase.ambiance = {0.15f, 0.15f, 0.15f};
  vase.specularity = 0.8f;
  AttributeRecord ground;
  ground.colour = {0.75f, 0.75f, 0.75f};
  ground.ambiance = {0.2f, 0.2f, 0.2f};
  if (reflective) {
    vase.reflectivity = {0.4f, 0.4f, 0.4f};
    vase.mask |= attribute_bits::kReflectivity;
    ground.reflectivity = {0.5f, 0.5f, 0.5f};
    ground.mask |= attribute_bits::kReflectivity;
  }
  AddSceneSegment(r.scene, ExampleSegment("vase/vase.seg"), Transform::Identity(),
                  MakeAttributeMaterial("vase", vase));
  // Rx(−90°) scaled by 8: the panel's y runs to −z, its face looks up.
  Transform flat;
  flat.t = {8, 0, 0, 0, 0, 8, 0, -8, 0, 0, 0, 0};
  AddSceneSegment(r.scene, ExampleSegment("maps/panel.seg"), flat,
                  MakeAttributeMaterial("ground", ground));
  r.options.width = 64;
  r.options.height = 48;
  r.options.shadows = true;
  r.options.reflections = reflective;
  r.options.threads = 1;
  r.options.background = {60, 30, 20};
  r.options.camera = LookAt({0.0f, 170.0f, 230.0f}, {0.0f, 30.0f, 0.0f}, 60.0f, 64);
  RaytraceLight light;
  light.direction = Normalized({-0.6f, 1.0f, 0.5f});
  r.options.lights = {light};
  return r;
}

// The same scene lit by one point light far up on the left with a size, so
// the passes of the multi-pass mode move it.
inline RaytraceScene MultiPassRaytraceScene() {
  RaytraceScene r = GoldenRaytraceScene();
  RaytraceLight light;
  light.type = raytrace_light::kPoint;
  light.position = {-240.0f, 400.0f, 200.0f};
  light.size = 30.0f;
  light.rangeSquared = 1.0e30f;
  r.options.lights = {light};
  return r;
}

// A Targa read back: the colour as a picture, and the alpha bytes when the
// file has them (empty otherwise).
inline bool ReadRaytracePicture(const std::filesystem::path& path, Picture& picture,
                                std::vector<std::uint8_t>* alpha = nullptr) {
  Image image;
  image.fileName = path.string();
  if (!LoadImage(image, -1, kImageQuiet)) {
    return false;
  }
  picture.Reset(image.width, image.height);
  if (alpha) {
    alpha->clear();
  }
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        picture.bgr[(static_cast<std::size_t>(y) * image.width + x) * 3 + c] = image.Plane(y, c)[x];
      }
      if (alpha && image.bytesPerPixel == 4) {
        alpha->push_back(image.Plane(y, 3)[x]);
      }
    }
  }
  return true;
}

// Renders the scene frame after frame (each a field or pass of the same
// frame when the scene flags ask) into output in mode 2, with the temporary
// pictures in folder. 0 or the failing code.
inline int RaytraceFrames(const ModelScene& scene, const ModelRaytraceOptions& options,
                          std::uint16_t extraSceneFlags, const std::vector<float>& frames,
                          const std::filesystem::path& folder,
                          const std::filesystem::path& output) {
  RaytraceObjects objects;
  int code = AddSceneObjects(scene, options.showDecals, objects);
  if (code != 0) {
    return code;
  }
  BinnodeTree tree;
  code = tree.Build(objects);
  if (code != 0) {
    return code;
  }
  RaytraceSettings settings = ModelRaytraceSettings(scene, options);
  settings.sceneFlags |= extraSceneFlags;
  for (float frame : frames) {
    settings.frame = frame;
    const Raytracer tracer(objects, tree, settings);
    code = RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, folder).code;
    if (code != 0) {
      return code;
    }
  }
  return 0;
}

// The golden pictures, one per pixel loop, and one with reflections.
inline const std::vector<std::string>& RaytraceGoldenNames() {
  static const std::vector<std::string> names = {"rt_plain",  "rt_low",       "rt_high",
                                                 "rt_fields", "rt_multipass", "rt_reflections"};
  return names;
}

// Renders the golden of that name into folder and reads it back.
inline bool RenderRaytraceGolden(const std::string& name, const std::filesystem::path& folder,
                                 Picture& picture) {
  RaytraceScene r = name == "rt_multipass"     ? MultiPassRaytraceScene()
                    : name == "rt_reflections" ? GoldenRaytraceScene(true)
                                               : GoldenRaytraceScene();
  std::uint16_t flags = 0;
  std::vector<float> frames = {1.0f};
  if (name == "rt_low") {
    r.options.antiAlias = AntiAlias::kLow;
  } else if (name == "rt_high") {
    r.options.antiAlias = AntiAlias::kHigh;
  } else if (name == "rt_fields") {
    // Both fields of frame 1: the second adds its rows to the first's.
    flags = raytrace_scene_flags::kFields;
    frames = {1.0f, 1.5f};
  } else if (name == "rt_multipass") {
    // Passes 0..8 (k = round(18 · fraction)); the last completes the frame.
    flags = raytrace_scene_flags::kMultiPass;
    frames.clear();
    for (int k = 0; k <= 8; ++k) {
      frames.push_back(1.0f + static_cast<float>(k) / 18.0f);
    }
  }
  const std::filesystem::path output = folder / (name + ".tga");
  if (RaytraceFrames(r.scene, r.options, flags, frames, folder, output) != 0) {
    return false;
  }
  return ReadRaytracePicture(output, picture);
}

}  // namespace zentrope::testing

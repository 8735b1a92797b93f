// The single-frame raytrace of one model: its posed patches made raytracer
// objects in world space, the binnode tree built over them, and the frame
// rendered with the same Front view and light as the z-buffer render.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/vector3.h"
#include "render/binnode_tree.h"
#include "render/model_scene.h"
#include "render/raytrace_frame.h"
#include "render/raytrace_objects.h"
#include "render/raytracer.h"
#include "render/render_settings.h"

namespace zentrope {

struct ModelRaytraceOptions {
  int width = 320;
  int height = 240;
  bool shadows = false;
  bool reflections = false;
  AntiAlias antiAlias = AntiAlias::kNone;
  bool alpha = false;
  bool depthPicture = false;
  bool shadowPicture = false;
  bool showDecals = true;
  // Towards the light, in the view's own axes (x right, y up, −z towards
  // the eye), as the z-buffer render takes it: one distant light.
  Vector3 light{0.0f, 0.0f, -1.0f};
  // Lights in world space used instead of the distant one when given.
  std::vector<RaytraceLight> lights;
  float ambient = 0.0f;
  float fogDistance = 0.0f;                         // 0: no fog; the background is its colour
  std::array<std::uint8_t, 3> background{0, 0, 0};  // blue, green, red
  int threads = 0;                                  // 0: every core
  int frame = 1;                                    // for picture sequences
  std::optional<ViewFraming> camera;                // none: the Front view
};

// Adds every patch of the scene's segments to the objects (world space),
// one shading record per patch. 0, or 107 when the memory limit is met.
int AddSceneObjects(const ModelScene& scene, bool showDecals, RaytraceObjects& objects);

// The raytrace settings of a model render: the rectangle of the picture,
// the camera (given or the Front view), the light and the options' flags.
RaytraceSettings ModelRaytraceSettings(const ModelScene& scene,
                                       const ModelRaytraceOptions& options);

struct ModelRaytraceResult {
  int code = 0;  // 0, 107, 108, 110, 111, 802, 803
  std::string reason;
  std::filesystem::path file;  // the picture that failed (108, 111)
  std::size_t objects = 0;     // after the frame (halves cut on contact included)
  double objectsMs = 0.0;      // patches classified
  double treeMs = 0.0;         // binnode tree built
  RaytraceFrameStats frame;
};

// Renders the model in mode 2 to the output picture, a Targa (with its .dep
// and .sha pictures as asked) or a PNG, the temporary pictures in
// tempFolder while the frame needs them.
ModelRaytraceResult RaytraceModel(const ModelScene& scene, const ModelRaytraceOptions& options,
                                  const std::filesystem::path& output,
                                  const std::filesystem::path& tempFolder);

// The same frame kept in memory: traced into the temporary picture
// ("temp.tga" in tempFolder, as a movie's frames are) and handed back as a
// picture for the caller to stamp and write.
ModelRaytraceResult RaytraceModelPicture(const ModelScene& scene,
                                         const ModelRaytraceOptions& options,
                                         const std::filesystem::path& tempFolder, Picture& picture);

}  // namespace zentrope

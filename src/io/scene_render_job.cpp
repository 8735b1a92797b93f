// A choreography's render job from its scene settings and the session's.
#include "io/scene_render_job.h"

#include <algorithm>
#include <filesystem>

#include "chor/choreography.h"
#include "io/frame_files.h"
#include "render/render_settings.h"
#include "shell/project_paths.h"

namespace zentrope {

void LookFromSettings(RenderJob& job, bool quick) {
  const SessionRenderSettings& session = RenderSettingsOfSession();
  if (quick) {
    job.mode = session.quick.mode;
    job.shading = session.quick.shading;
    job.shadows = session.quick.shadows;
    job.reflections = session.quick.reflections;
    job.antiAlias = session.quick.antiAlias;
    job.showDecals = session.quick.showDecals;
    job.frameNumber = false;
  } else {
    job.mode = session.full.mode;
    job.shading = session.full.shading;
    job.shadows = session.full.shadows;
    job.reflections = session.full.reflections;
    job.antiAlias = session.full.antiAlias;
    job.showDecals = session.full.showDecals;
    job.frameNumber = session.full.showFrameNumber;
  }
  job.defaultLight = session.quick.LightDirection();
  job.frameRate = std::max<int>(1, session.full.frameRate);
}

RenderJob DirectionRenderJob(const std::string& document, const Choreography& chor, bool quick) {
  const SessionRenderSettings& session = RenderSettingsOfSession();
  const SceneSettings& scene = chor.scene;
  RenderJob job;
  job.window = RenderWindow::kDirection;
  job.document = document;
  LookFromSettings(job, quick);
  const float step = scene.renderStep > 0.0f ? scene.renderStep : 1.0f;
  job.frames = FrameRange(scene.renderFrom, scene.renderTo, step);
  int width = scene.outputWidth, height = scene.outputHeight;
  std::int16_t w = 0, h = 0;
  if (PresetSize(scene.outputPreset, w, h)) {
    width = w;
    height = h;
  }
  job.width = std::max(width, 1);
  job.height = std::max(height, 1);
  std::string name = scene.outputName.empty() ? session.full.outputName : scene.outputName;
  job.format = DriverFormatForOutput(name);
  if (std::filesystem::path(name).extension().empty()) {
    name += ".tga";
  }
  // A project name ("Anim:preview.avi") goes where its project says.
  std::string why;
  const std::optional<std::filesystem::path> located = LocateFile(name, &why);
  job.outputName = located ? located->string() : name;
  return job;
}

}  // namespace zentrope

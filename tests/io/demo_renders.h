// The demo production's golden frames: a few frames of examples/demo
// rendered through the render driver in each mode at a small size. The
// tests compare with the stored pictures; the render_goldens tool rewrites
// them.
#pragma once

#include <string>
#include <vector>

#include "io/render_driver.h"

namespace zentrope::testing {

struct DemoGolden {
  std::string name;  // the golden picture's name
  RenderMode mode;
  float frame;
};

inline std::vector<DemoGolden> DemoGoldens() {
  return {{"demo_wireframe_1", RenderMode::kWireframe, 1.0f},
          {"demo_zbuffer_1", RenderMode::kZBuffer, 1.0f},
          {"demo_zbuffer_20", RenderMode::kZBuffer, 20.0f},
          {"demo_raytrace_20", RenderMode::kRaytrace, 20.0f}};
}

inline std::string DemoScenePath() {
  return std::string(ZENTROPE_SOURCE_DIR) + "/examples/demo/demo.cho";
}

// The job the goldens are rendered with: the demo's camera view at
// 160 × 120, GOURAUD for the z-buffer, shadows for the raytracer.
inline RenderJob DemoJob(RenderMode mode, int threads = 2) {
  RenderJob job;
  job.window = RenderWindow::kDirection;
  job.document = DemoScenePath();
  job.mode = mode;
  job.shading = Shading::kGouraud;
  job.shadows = true;
  job.width = 160;
  job.height = 120;
  job.format = DriverFormat::kPng;
  job.threads = threads;
  return job;
}

// One golden frame, rendered and returned (not written).
inline QuickRender RenderDemoGolden(const DemoGolden& golden, int threads = 2) {
  RenderProgress quiet;
  return quick_render(DemoJob(golden.mode, threads), golden.frame, quiet);
}

}  // namespace zentrope::testing

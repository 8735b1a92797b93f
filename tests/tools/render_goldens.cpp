// Rewrites the renderer's golden pictures (tests/data/render/*.tga). Run by
// hand after a deliberate change to the pictures, and look at them before
// committing: the tests trust whatever this writes.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "io/demo_renders.h"
#include "render/golden.h"
#include "render/raytrace_scenes.h"
#include "render/render_scenes.h"
#include "shell/memory_pool.h"

int main() {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{1} << 30);
  int failures = 0;
  for (const char* name : {"flat", "gouraud", "phong"}) {
    const std::string golden = std::string(name) + "_lathe";
    const auto path = zentrope::testing::GoldenPath(golden);
    const zentrope::Picture picture =
        zentrope::testing::GoldenLathe(zentrope::testing::GoldenFlags(name));
    if (zentrope::testing::SavePicture(picture, path)) {
      std::printf("wrote %s\n", path.string().c_str());
    } else {
      std::printf("could not write %s\n", path.string().c_str());
      ++failures;
    }
  }
  // The raytracer's: rendered through the frame renderer into a scratch
  // folder, read back and stored as 24-bit pictures.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("zentrope_goldens" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  for (const std::string& name : zentrope::testing::RaytraceGoldenNames()) {
    const auto path = zentrope::testing::GoldenPath(name);
    zentrope::Picture picture;
    if (zentrope::testing::RenderRaytraceGolden(name, folder, picture) &&
        zentrope::testing::SavePicture(picture, path)) {
      std::printf("wrote %s\n", path.string().c_str());
    } else {
      std::printf("could not render or write %s\n", path.string().c_str());
      ++failures;
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  // The demo production through the render driver.
  for (const zentrope::testing::DemoGolden& golden : zentrope::testing::DemoGoldens()) {
    const auto path = zentrope::testing::GoldenPath(golden.name);
    const zentrope::QuickRender rendered = zentrope::testing::RenderDemoGolden(golden);
    if (rendered.outcome.ok() && zentrope::testing::SavePicture(rendered.picture, path)) {
      std::printf("wrote %s\n", path.string().c_str());
    } else {
      std::printf("could not render or write %s\n", path.string().c_str());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

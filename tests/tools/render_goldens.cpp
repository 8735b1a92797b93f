// Rewrites the renderer's golden pictures (tests/data/render/*.tga). Run by
// hand after a deliberate change to the pictures, and look at them before
// committing: the tests trust whatever this writes.
#include <cstdio>

#include "render/golden.h"
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
  return failures == 0 ? 0 : 1;
}

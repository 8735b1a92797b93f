// The single-model render: the memory limit covers the picture, and a model
// without patches is reported instead of drawn blank in silence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/lathe.h"
#include "model/patch_finder.h"
#include "render/model_render.h"
#include "render/model_scene.h"
#include "render/render_errors.h"
#include "render/render_scenes.h"
#include "shell/memory_pool.h"
#include "support/memory_limit.h"

namespace zentrope {
namespace {

using testing::LimitScope;
using testing::SmallVase;

// Catches: the picture and its depth buffer taken outside the memory limit,
// so a render far larger than the limit allows still succeeds.
TEST(ModelRender, APictureBeyondTheMemoryLimitFailsWith107) {
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ASSERT_FALSE(scene.segments.front().segment->patches.empty());
  ModelRenderOptions options;
  options.width = 640;
  options.height = 480;
  options.threads = 1;
  {
    // 640 × 480 needs 3 bytes of colour and 4 of depth a pixel, 2.1 MB; allow
    // a tenth of that beyond what is held now.
    LimitScope limit(MemoryPool::Main().total_allocated() + 640 * 480 * 7 / 10);
    const ModelRenderResult result = RenderModel(scene, options);
    EXPECT_EQ(result.code, render_error::kMemory);
    EXPECT_TRUE(result.picture.bgr.empty());
  }
  // With room for it the same render draws the vase.
  const ModelRenderResult result = RenderModel(scene, options);
  ASSERT_EQ(result.code, render_error::kNone);
  EXPECT_EQ(result.picture.width, 640);
  EXPECT_EQ(result.picture.bgr.size(), std::size_t{640} * 480 * 3);
  EXPECT_GT(result.pieces, 0u);
}

// Catches: a model without patches rendered as a blank picture with no word
// of warning.
TEST(ModelScene, AModelWithoutPatchesCarriesAWarning) {
  const std::string examples = std::string(ZENTROPE_SOURCE_DIR) + "/examples/";
  // The arm's two segments are open splines that close no patch.
  Result<ModelScene> arm = LoadModelScene({examples + "arm/arm.fig", {}, 1.0f});
  ASSERT_TRUE(arm) << arm.failure().detail;
  EXPECT_EQ(std::count(arm->problems.begin(), arm->problems.end(), kNothingToDraw), 1);
  Result<ModelScene> vase = LoadModelScene({examples + "vase/vase.seg", {}, 1.0f});
  ASSERT_TRUE(vase) << vase.failure().detail;
  EXPECT_EQ(std::count(vase->problems.begin(), vase->problems.end(), kNothingToDraw), 0);
}

}  // namespace
}  // namespace zentrope

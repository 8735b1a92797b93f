// A window's render on its worker thread: the progress it reports, the
// quick render's picture, and Escape ending the range after the frame in
// hand.
#include "shell/frame/render_task.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "chor/choreography_file.h"
#include "io/scene_render_job.h"
#include "render/render_settings.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

std::string Demo() {
  return std::string(ZENTROPE_SOURCE_DIR) + "/examples/demo/demo.cho";
}

RenderTask::Finished Wait(RenderTask& task) {
  for (int i = 0; i < 6000; ++i) {
    if (std::optional<RenderTask::Finished> done = task.Take()) {
      return std::move(*done);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "the render did not finish";
  return {};
}

RenderJob SmallJob(const std::filesystem::path& out, bool quick) {
  Result<Choreography> chor = read_choreography(Demo());
  EXPECT_TRUE(chor);
  RenderJob job = DirectionRenderJob(Demo(), *chor, quick);
  job.width = 80;
  job.height = 60;
  job.mode = RenderMode::kWireframe;
  job.format = DriverFormat::kPng;
  job.outputName = out.string();
  job.threads = 1;
  return job;
}

// Catches: the quick render's picture lost between the worker and the
// window, or a quick render writing a file.
TEST(RenderTask, AQuickRenderHandsBackItsPictureAndWritesNothing) {
  testing::TempDir dir;
  RenderTask task;
  RenderJob job = SmallJob(dir / "quick.png", true);
  job.frames = {12.0f};
  ASSERT_TRUE(task.Start(job, true));
  const RenderTask::Finished done = Wait(task);
  EXPECT_TRUE(done.quick);
  EXPECT_EQ(done.outcome.messageId, 0) << done.outcome.detail;
  ASSERT_TRUE(done.picture.has_value());
  EXPECT_EQ(done.picture->width, 80);
  EXPECT_EQ(done.lastFrame, 12.0f);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_FALSE(task.Take().has_value());  // taken once
}

// Catches: progress not reported from the worker, a range that ignores
// Escape and renders to its end, or finished frames never reaching the
// render window.
TEST(RenderTask, ARangeReportsProgressAndStopsAfterTheFrameInHand) {
  testing::TempDir dir;
  RenderTask task;
  RenderJob job = SmallJob(dir / "f###.png", false);
  const std::size_t all = job.frames.size();
  ASSERT_GT(all, 3u);
  ASSERT_TRUE(task.Start(job, false));
  EXPECT_FALSE(task.Start(job, false));  // one at a time
  task.Stop();
  const RenderTask::Finished done = Wait(task);
  EXPECT_TRUE(done.outcome.stopped);
  EXPECT_LT(static_cast<std::size_t>(done.outcome.rendered), all);
  // Every frame it reported finished is a complete file.
  for (const std::string& f : done.outcome.files) {
    EXPECT_TRUE(std::filesystem::is_regular_file(f)) << f;
  }

  // Unstopped, the whole range arrives and the progress says so.
  ASSERT_TRUE(task.Start(job, false));
  const RenderTask::Finished whole = Wait(task);
  EXPECT_TRUE(whole.outcome.ok()) << whole.outcome.detail;
  EXPECT_EQ(static_cast<std::size_t>(whole.outcome.rendered), all);
  EXPECT_EQ(task.Snapshot().finished, static_cast<int>(all));
  EXPECT_EQ(whole.lastFile, whole.outcome.files.back());
  EXPECT_NE(whole.title.find("RENDER: "), std::string::npos);
  // The last frame's picture is there for the render window, once.
  Picture latest;
  ASSERT_TRUE(task.TakeLatest(latest));
  EXPECT_EQ(latest.width, 80);
  EXPECT_EQ(latest.height, 60);
  EXPECT_FALSE(task.TakeLatest(latest));
}

}  // namespace
}  // namespace zentrope

// The render driver: the demo production's frames against golden pictures
// in every mode, and the rules of a range: the selection, the stamp, the
// skeletal window's paper, stopping, file names per format, and the
// failures a range ends with.

#include "io/render_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/demo_renders.h"
#include "io/export_scene.h"
#include "io/frame_files.h"
#include "render/camera_view.h"
#include "render/frame_stamp.h"
#include "render/golden.h"
#include "render/view_drawing.h"
#include "shell/string_table.h"
#include "support/external_tool.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::DemoGolden;
using testing::DemoGoldens;
using testing::DemoJob;
using testing::MatchesGolden;
using testing::RenderDemoGolden;

// Tolerance of the driver's goldens: 2 levels per channel, at most 30
// differing pixels (rounding of a different compiler or library build).
constexpr int kTolerance = 2;
constexpr int kMaxDiffering = 30;

// The demo camera's background channels (35, 55, 90) as blue, green, red.
constexpr std::uint8_t kSky[3] = {90, 55, 35};

class Collect final : public RenderProgress {
 public:
  void FrameStarted(int index, int, float, const std::string& title) override {
    started.push_back(index);
    titles.push_back(title);
    if (stopDuring >= 0 && index == stopDuring) {
      stop = true;
    }
  }
  void FrameFinished(const FrameDone& done, int) override { finished.push_back(done); }
  void Warning(const std::string& text) override { warnings.push_back(text); }
  bool StopRequested() override { return stop; }

  int stopDuring = -1;
  bool stop = false;
  std::vector<int> started;
  std::vector<std::string> titles;
  std::vector<FrameDone> finished;
  std::vector<std::string> warnings;
};

bool SamePixels(const Picture& a, const Picture& b) {
  return a.width == b.width && a.height == b.height && a.bgr == b.bgr;
}

// Catches: the window's Camera view and the wireframe render drawing a
// frame differently (two drawings of one document drifting apart).
TEST(RenderDriver, AWireframeFrameIsTheWindowsCameraView) {
  RenderJob job = DemoJob(RenderMode::kWireframe);
  Collect quiet;
  const QuickRender rendered = quick_render(job, 10.0f, quiet);
  ASSERT_EQ(rendered.outcome.messageId, 0) << rendered.outcome.detail;

  Result<ExportSource> source = ExportSource::Open(job.document);
  ASSERT_TRUE(source);
  Result<ExportScene> posed = source->PoseAt(10.0f);
  ASSERT_TRUE(posed);
  ViewOptions options;
  options.grid = false;
  options.camera =
      CameraFraming(CameraAt(*source->choreography(), 10.0f), posed->scene, job.width, job.height);
  Picture view;
  view.width = job.width;
  view.height = job.height;
  DrawDocumentView(posed->scene, {}, InitialViewState(ViewKind::kCamera), options, view);
  EXPECT_TRUE(SamePixels(view, rendered.picture));
  // And the frame has lines on it, not only paper.
  std::size_t ink = 0;
  for (std::uint8_t b : view.bgr) {
    ink += b == 0;
  }
  EXPECT_GT(ink, 300u);
}

// Catches: the camera view, lights, background or a renderer changing the
// demo's frames (the goldens were looked at when written).
TEST(RenderDriverGoldens, DemoFramesInEveryMode) {
  for (const DemoGolden& golden : DemoGoldens()) {
    const QuickRender rendered = RenderDemoGolden(golden);
    ASSERT_TRUE(rendered.outcome.ok()) << golden.name << ": " << rendered.outcome.detail;
    EXPECT_TRUE(MatchesGolden(rendered.picture, golden.name, kTolerance, kMaxDiffering));
  }
}

// Catches: a wireframe render shaded or drawn in colour; a z-buffer or
// raytrace render ignoring the camera's background channels.
TEST(RenderDriverGoldens, PaperAndBackgroundFollowTheRules) {
  for (const DemoGolden& golden : DemoGoldens()) {
    const QuickRender rendered = RenderDemoGolden(golden);
    ASSERT_TRUE(rendered.outcome.ok()) << golden.name;
    const Picture& p = rendered.picture;
    if (golden.mode == RenderMode::kWireframe) {
      int black = 0;
      for (std::size_t i = 0; i < p.bgr.size(); i += 3) {
        const bool white = p.bgr[i] == 255 && p.bgr[i + 1] == 255 && p.bgr[i + 2] == 255;
        const bool ink = p.bgr[i] == 0 && p.bgr[i + 1] == 0 && p.bgr[i + 2] == 0;
        EXPECT_TRUE(white || ink) << golden.name << " pixel " << i / 3;
        black += ink ? 1 : 0;
      }
      EXPECT_GT(black, 200) << "the splines are drawn";
    } else {
      // The top-left corner looks over the floor into the sky.
      const std::uint8_t* corner = p.Pixel(0, 0);
      EXPECT_EQ(corner[0], kSky[0]) << golden.name;
      EXPECT_EQ(corner[1], kSky[1]) << golden.name;
      EXPECT_EQ(corner[2], kSky[2]) << golden.name;
    }
  }
}

// Catches: frames depending on the thread count.
TEST(RenderDriverGoldens, SamePicturesForAnyThreadCount) {
  for (const DemoGolden& golden : DemoGoldens()) {
    const QuickRender one = RenderDemoGolden(golden, 1);
    const QuickRender two = RenderDemoGolden(golden, 2);
    ASSERT_TRUE(one.outcome.ok() && two.outcome.ok()) << golden.name;
    EXPECT_TRUE(SamePixels(one.picture, two.picture)) << golden.name;
  }
}

// Catches: the selection's rectangle shifted, cut one pixel short (x2 − x1
// + 1) or rendered at another scale than the window's.
TEST(RenderDriver, SelectionIsExactlyTheRectangleOfTheWindow) {
  RenderProgress quiet;
  const QuickRender full = quick_render(DemoJob(RenderMode::kZBuffer), 10.0f, quiet);
  RenderJob job = DemoJob(RenderMode::kZBuffer);
  job.selection = SelectionRect{30, 20, 99, 69};
  const QuickRender part = quick_render(job, 10.0f, quiet);
  ASSERT_TRUE(full.outcome.ok() && part.outcome.ok());
  ASSERT_EQ(part.picture.width, 70);
  ASSERT_EQ(part.picture.height, 50);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 70; ++x) {
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(part.picture.Pixel(x, y)[c], full.picture.Pixel(x + 30, y + 20)[c])
            << x << "," << y;
      }
    }
  }
}

// Catches: the stamp missing from rendered frames, or drawn where the rule
// does not put it (inset 6 % of 120 = 7 rows; left edge at 14).
TEST(RenderDriver, FrameNumberStampedAtTheInset) {
  RenderProgress quiet;
  RenderJob job = DemoJob(RenderMode::kZBuffer);
  const QuickRender plain = quick_render(job, 5.0f, quiet);
  job.frameNumber = true;
  job.outputName = "shot.png";
  const QuickRender stamped = quick_render(job, 5.0f, quiet);
  ASSERT_TRUE(plain.outcome.ok() && stamped.outcome.ok());
  Picture expected = plain.picture;
  StampFrameNumber(expected, StampText(false, 5, "shot.png", "shot5.png"));
  EXPECT_TRUE(SamePixels(stamped.picture, expected));
  EXPECT_FALSE(SamePixels(stamped.picture, plain.picture));
  int changedAbove = 0;
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < stamped.picture.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        changedAbove += stamped.picture.Pixel(x, y)[c] != plain.picture.Pixel(x, y)[c];
      }
    }
  }
  EXPECT_EQ(changedAbove, 0) << "nothing above the inset";
}

// Catches: an action render drawn on white (the skeletal window's paper is
// cyan) or without the figure.
TEST(RenderDriver, ActionRenderOnCyanPaper) {
  RenderJob job;
  job.window = RenderWindow::kSkeletal;
  job.document = std::string(ZENTROPE_SOURCE_DIR) + "/examples/arm/arm.fig";
  job.action = std::string(ZENTROPE_SOURCE_DIR) + "/examples/arm/wave.act";
  job.mode = RenderMode::kWireframe;
  job.width = 80;
  job.height = 60;
  RenderProgress quiet;
  const QuickRender r = quick_render(job, 15.0f, quiet);
  ASSERT_TRUE(r.outcome.ok()) << r.outcome.detail;
  const std::uint8_t* corner = r.picture.Pixel(0, 0);
  EXPECT_EQ(corner[0], 255);  // blue
  EXPECT_EQ(corner[1], 255);  // green
  EXPECT_EQ(corner[2], 0);    // red
  int ink = 0;
  for (std::size_t i = 0; i < r.picture.bgr.size(); i += 3) {
    ink += r.picture.bgr[i] == 0 && r.picture.bgr[i + 1] == 0 && r.picture.bgr[i + 2] == 0;
  }
  EXPECT_GT(ink, 20);
}

// Catches: Escape ending the range before the current frame is written,
// or rendering on after it; a movie left without its index.
TEST(RenderDriver, EscapeEndsAfterTheCurrentFrameAndClosesTheMovie) {
  testing::TempDir dir;
  RenderJob job = DemoJob(RenderMode::kZBuffer);
  job.format = DriverFormat::kAvi;
  job.outputName = (dir / "stop.avi").string();
  job.frames = FrameRange(1, 10, 1);
  Collect progress;
  progress.stopDuring = 1;  // asked while frame 2 renders
  const RenderOutcome outcome = render_frames(job, progress);
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.messageId, 0);
  EXPECT_EQ(outcome.rendered, 2);
  EXPECT_EQ(progress.started, (std::vector<int>{0, 1}));
  EXPECT_EQ(progress.titles.back(), "RENDER: stop.avi Frame: 2");
  ZENTROPE_REQUIRE_TOOL("ffprobe", "ffmpeg");
  const test::ToolRun probe = test::RunTool(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
      "-of csv=p=0 '" +
      job.outputName + "'");
  EXPECT_EQ(probe.status, 0) << probe.output;
  EXPECT_EQ(probe.output, "2\n");
}

// Catches: picture frames numbered by their place in the list instead of
// by frame, or files reported that were not written.
TEST(RenderDriver, FrameListWritesEachFrameUnderItsOwnName) {
  testing::TempDir dir;
  RenderJob job = DemoJob(RenderMode::kWireframe);
  job.outputName = (dir / "w_###.png").string();
  job.frames = {3.0f, 7.0f, 12.0f};
  Collect progress;
  const RenderOutcome outcome = render_frames(job, progress);
  ASSERT_TRUE(outcome.ok()) << outcome.detail;
  const std::vector<std::string> expected = {
      (dir / "w_003.png").string(), (dir / "w_007.png").string(), (dir / "w_012.png").string()};
  EXPECT_EQ(outcome.files, expected);
  // The render window's title names the numbered file.
  EXPECT_EQ(progress.titles, (std::vector<std::string>{"RENDER: w_003.png", "RENDER: w_007.png",
                                                       "RENDER: w_012.png"}));
  ASSERT_EQ(progress.finished.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(progress.finished[i].file, expected[i]);
    EXPECT_TRUE(FrameFileComplete(expected[i]));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3)
      << "no temporary or working picture left";
}

// Catches: a QTM range not written to the name given (it is one file), a
// movie named by frame, geometry frames named by the picture rule (the
// export rule drops the name's trailing digits) or a run of '#' ignored
// for geometry.
TEST(RenderDriver, FileNamesPerFormat) {
  RenderJob job;
  job.frames = {4.0f, 5.0f};
  job.outputName = "out/take01.avi";
  job.format = DriverFormat::kAvi;
  EXPECT_EQ(FrameOutputFile(job, 5.0f), "out/take01.avi");
  job.outputName = "out/take01.qtm";
  job.format = DriverFormat::kQtm;
  EXPECT_EQ(FrameOutputFile(job, 5.0f), "out/take01.qtm");
  job.outputName = "out/take01.dxf";
  job.format = DriverFormat::kDxf;
  EXPECT_EQ(FrameOutputFile(job, 5.0f), "out/take5.dxf");
  job.outputName = "out/take_###.obj";
  job.format = DriverFormat::kObj;
  EXPECT_EQ(FrameOutputFile(job, 5.0f), "out/take_005.obj");
  job.outputName = "out/take01.tga";
  job.format = DriverFormat::kTarga;
  EXPECT_EQ(FrameOutputFile(job, 5.0f), "out/take015.tga");
  EXPECT_FALSE(FramePerFile(DriverFormat::kAvi));
  EXPECT_FALSE(FramePerFile(DriverFormat::kQtm));
  EXPECT_TRUE(FramePerFile(DriverFormat::kPng));
}

// Catches: resuming rendering a frame whose file is complete, or listing
// it as missing.
TEST(RenderDriver, SkipExistingAndMissingFrames) {
  testing::TempDir dir;
  RenderJob job = DemoJob(RenderMode::kWireframe);
  job.outputName = (dir / "s_#.png").string();
  job.frames = {1.0f, 2.0f, 3.0f};
  std::ofstream(dir / "s_2.png") << "finished elsewhere";
  EXPECT_EQ(MissingFrames(job), (std::vector<float>{1.0f, 3.0f}));
  job.skipExisting = true;
  Collect progress;
  const RenderOutcome outcome = render_frames(job, progress);
  ASSERT_TRUE(outcome.ok());
  EXPECT_EQ(outcome.rendered, 2);
  EXPECT_EQ(outcome.skipped, 1);
  EXPECT_EQ(testing::ReadFile(dir / "s_2.png"), "finished elsewhere");
  // Reports come in frame order, the kept frame between the written ones.
  ASSERT_EQ(progress.finished.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(progress.finished[i].frame, static_cast<float>(i + 1));
  }
  EXPECT_TRUE(MissingFrames(job).empty());
}

// Catches: half frames (a step below 1) written over the whole frames'
// files of a picture sequence.
TEST(RenderDriver, FractionalFramesRefusedForFileSequences) {
  testing::TempDir dir;
  RenderJob job = DemoJob(RenderMode::kWireframe);
  job.outputName = (dir / "h_#.png").string();
  job.frames = {1.0f, 1.5f, 2.0f};
  Collect progress;
  const RenderOutcome outcome = render_frames(job, progress);
  EXPECT_EQ(outcome.messageId, str::kTroubleRendering);
  EXPECT_NE(outcome.detail.find("1.5"), std::string::npos) << outcome.detail;
  EXPECT_TRUE(progress.started.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Catches: a scene without one of its figures rendering frames anyway, or
// the message not naming the file.
TEST(RenderDriver, MissingFigureRendersNothing) {
  testing::TempDir dir;
  std::filesystem::copy_file(testing::DemoScenePath(), dir / "demo.cho");
  RenderJob job = DemoJob(RenderMode::kZBuffer);
  job.document = (dir / "demo.cho").string();
  job.outputName = (dir / "f_#.png").string();
  job.frames = {1.0f, 2.0f};
  Collect progress;
  const RenderOutcome outcome = render_frames(job, progress);
  EXPECT_EQ(outcome.messageId, 107);
  EXPECT_NE(outcome.detail.find("walker.fig"), std::string::npos) << outcome.detail;
  EXPECT_EQ(outcome.rendered, 0);
  EXPECT_TRUE(progress.started.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "f_1.png"));
}

// Catches: a folder that cannot be made reported as success, or with
// another format's message.
TEST(RenderDriver, OutputFolderThatCannotBeMade) {
  testing::TempDir dir;
  std::ofstream(dir / "file") << "x";
  for (const auto& [format, name, message] :
       {std::tuple{DriverFormat::kPng, "f_#.png", str::kTroubleRendering},
        std::tuple{DriverFormat::kDxf, "f.dxf", str::kTroubleSavingDxf},
        std::tuple{DriverFormat::kQtm, "f.qtm", str::kTroubleSavingQtm}}) {
    RenderJob job = DemoJob(RenderMode::kWireframe);
    job.format = format;
    job.outputName = (dir / "file" / "sub" / name).string();
    job.frames = {1.0f};
    Collect progress;
    const RenderOutcome outcome = render_frames(job, progress);
    EXPECT_EQ(outcome.messageId, message) << name;
    EXPECT_TRUE(progress.started.empty()) << name;
  }
}

// Catches: a missing file warned every frame, or not listed at the end.
TEST(RenderDriver, MissingMaterialWarnedOnce) {
  testing::TempDir dir;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(ZENTROPE_SOURCE_DIR) + "/examples/demo")) {
    std::filesystem::copy(entry.path(), dir / entry.path().filename(),
                          std::filesystem::copy_options::recursive);
  }
  std::filesystem::remove(dir / "checker.mat");
  RenderJob job = DemoJob(RenderMode::kWireframe);
  job.document = (dir / "demo.cho").string();
  job.outputName = (dir / "out" / "m_#.png").string();
  job.frames = {1.0f, 2.0f, 3.0f};
  Collect progress;
  const RenderOutcome outcome = render_frames(job, progress);
  ASSERT_TRUE(outcome.ok()) << outcome.detail;
  EXPECT_EQ(outcome.rendered, 3);
  ASSERT_EQ(progress.warnings.size(), 1u);
  EXPECT_NE(progress.warnings[0].find("checker.mat"), std::string::npos) << progress.warnings[0];
  EXPECT_EQ(outcome.problems, progress.warnings);
  EXPECT_FALSE(MissingDocuments(job).empty()) << "--strict would stop before the first frame";
}

}  // namespace
}  // namespace zentrope

// Dynamics: the integrator under gravity, bounces off the ground, and a
// whole simulation run stored as channels.
#include <gtest/gtest.h>

#include "chor/choreography_file.h"
#include "chor/dynamics.h"
#include "chor/frame_evaluation.h"
#include "core/rotation.h"
#include "scene_builder.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::AddPathThrough;
using testing::AddRider;
using testing::MatrixNear;
using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;

BodyState AtRest(float height) {
  return {0, height, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
}

double Energy(const BodyState& s, float inverseMass) {
  const double v = static_cast<double>(s[8]) * inverseMass;
  return 0.5 * v * v + kGravity * static_cast<double>(s[1]);
}

TEST(DynamicsTest, OrientationConversionsArePaired) {
  const Matrix3 r = BuildRotation({}, {20, -35, 110}).Linear();
  EXPECT_TRUE(MatrixNear(BodyRotation(BodyQuaternion(r)), r, 1e-5f));
  EXPECT_TRUE(MatrixNear(BodyRotation({0, 0, 0, 1}), Matrix3::Identity(), 0.0f));
}

TEST(DynamicsTest, FreeFallIsExactUnderRungeKutta) {
  const Body body{0.5f, 0.0f, 0.0f};
  BodyState s = AtRest(1000);
  const float h = kDynamicsStep;
  for (int i = 1; i <= 10; ++i) {
    s = StepBody(body, s, static_cast<float>(i) * h, h);
    const double t = i * static_cast<double>(h);
    EXPECT_NEAR(s[1], 1000.0 - 0.5 * kGravity * t * t, 1e-3) << i;
    EXPECT_NEAR(s[8] * body.inverseMass, -kGravity * t, 1e-3) << i;
  }
  const Body immovable{0.0f, 0.5f, 0.0f};
  EXPECT_EQ(StepBody(immovable, AtRest(5), 0, h), AtRest(5)) << "infinite mass stays put";
}

TEST(DynamicsTest, EachBounceKeepsTheSquareOfTheBounce) {
  for (float bounce : {0.5f, 0.8f}) {
    const Body body{1.0f, bounce, -2.0f};  // lowest point 2 below the origin
    BodyState s = AtRest(102);
    const double start = Energy(s, 1.0f) - kGravity * 2.0;
    std::vector<double> apexes;
    bool rising = false;
    double peak = 0.0;
    for (int i = 0; i < 600 && apexes.size() < 2; ++i) {
      const BodyState next =
          StepBody(body, s, static_cast<float>(i) * kDynamicsStep, kDynamicsStep);
      ASSERT_GE(next[1], 2.0f - 1e-4f) << "never below the ground";
      if (s[8] <= 0.0f && next[8] > 0.0f) {
        rising = true;  // bounced within this step
        peak = 0.0;
      }
      if (rising) {
        peak = std::max(peak, static_cast<double>(next[1]) - 2.0);
        if (next[8] <= 0.0f) {
          apexes.push_back(peak);
          rising = false;
        }
      }
      s = next;
    }
    ASSERT_GE(apexes.size(), 2u);
    // The frames sample the flight, so an apex is seen up to g·h²/8 low.
    const double tolerance = kGravity * kDynamicsStep * kDynamicsStep / 8.0 + 1e-3;
    EXPECT_NEAR(apexes[0], bounce * bounce * (start / kGravity), tolerance) << bounce;
    EXPECT_NEAR(apexes[1], bounce * bounce * apexes[0], tolerance * (1 + bounce * bounce));
  }
}

TEST(DynamicsTest, NoBounceComesToRest) {
  const Body body{1.0f, 0.0f, 0.0f};
  BodyState s = AtRest(50);
  for (int i = 0; i < 60; ++i) {
    s = StepBody(body, s, static_cast<float>(i) * kDynamicsStep, kDynamicsStep);
  }
  EXPECT_EQ(s[1], 0.0f);
  EXPECT_EQ(s[8], 0.0f);
}

TEST(DynamicsTest, RunStoresTheMotionAndIsDeterministic) {
  TempDir dir;
  for (const char* name : {"arm.fig", "upper.seg", "lower.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples/arm" / name, dir / name);
  }
  auto scene = [&] {
    Choreography chor = NewChoreography();
    chor.scene.length = 40;
    AddPathThrough(chor, "high", {{10, 200, -30}});
    FigureInstance& f = AddRider(chor, (dir / "arm.fig").string(), "high");
    f.dynamics = std::make_unique<Dynamics>();
    f.dynamics->inverseMass = 0.5f;
    f.dynamics->bounce = 0.5f;
    f.dynamics->ranges = {{5, 30}};
    return chor;
  };
  Choreography chor = scene();
  const DynamicsRun run = RunDynamics(chor);
  ASSERT_TRUE(run.completed) << run.message;
  EXPECT_TRUE(chor.dynamicsUpToDate);
  const FigureInstance& f = chor.figures[0];
  ASSERT_TRUE(f.dynamics->motion);
  EXPECT_TRUE(HasKeyAt(*f.dynamics->motion, 0, 5));
  EXPECT_TRUE(HasKeyAt(*f.dynamics->motion, 1, 30));
  // Before its range the path places it; at the start it is where the path
  // left it; it falls and never passes below the ground.
  EXPECT_EQ(EvaluateChannel(*f.dynamics->motion, 1, 5), 200.0f);
  float lowest = 1e9f;
  for (int frame = 5; frame <= 30; ++frame) {
    PlaceFigure(Transform::Identity(), chor.figures[0], static_cast<float>(frame), chor);
    lowest = std::min(lowest, chor.figures[0].runtime.placement.Translation().y);
    EXPECT_EQ(chor.figures[0].runtime.placement.Translation().x, 10.0f);
  }
  EXPECT_LT(lowest, 100.0f);
  EXPECT_GT(lowest, 0.0f) << "the arm hangs below its origin";
  // The same scene simulated again writes the same file.
  ASSERT_EQ(write_choreography(chor, (dir / "a.cho").string()), SaveStatus::kSaved);
  Choreography again = scene();
  ASSERT_TRUE(RunDynamics(again).completed);
  ASSERT_EQ(write_choreography(again, (dir / "b.cho").string()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "a.cho"), ReadFile(dir / "b.cho"));
}

TEST(DynamicsTest, EscapeAndMissingFiguresEndTheRun) {
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "p", {{0, 10, 0}});
  FigureInstance& f = AddRider(chor, "nowhere/none.fig", "p");
  f.dynamics = std::make_unique<Dynamics>();
  f.dynamics->ranges = {{1, 5}};
  const DynamicsRun failed = RunDynamics(chor);
  EXPECT_EQ(failed.code, kFigureLoadError);
  EXPECT_FALSE(failed.completed);
  EXPECT_FALSE(chor.dynamicsUpToDate);
  const DynamicsRun stopped = RunDynamics(chor, [] { return true; });
  EXPECT_EQ(stopped.code, 0);
  EXPECT_FALSE(stopped.completed);
}

// The arm of the examples dropped from 200 over the range 5..30, with the
// mass given (model: 1/mass).
Choreography DroppedArm(const TempDir& dir, float inverseMass) {
  for (const char* name : {"arm.fig", "upper.seg", "lower.seg"}) {
    if (!std::filesystem::exists(dir / name)) {
      std::filesystem::copy_file(SourceDir() / "examples/arm" / name, dir / name);
    }
  }
  Choreography chor = NewChoreography();
  chor.scene.length = 40;
  AddPathThrough(chor, "high", {{10, 200, -30}});
  FigureInstance& f = AddRider(chor, (dir / "arm.fig").string(), "high");
  f.dynamics = std::make_unique<Dynamics>();
  f.dynamics->inverseMass = inverseMass;
  f.dynamics->bounce = 0.5f;
  f.dynamics->ranges = {{5, 30}};
  return chor;
}

// Catches: a body counted active on the last frame of its range (frame ≤
// end), which steps it once more and keys frame end + 1, or before its start.
TEST(DynamicsTest, TheEndFrameOfARangeIsNotSimulated) {
  TempDir dir;
  Choreography chor = DroppedArm(dir, 0.5f);
  // A second body whose range runs longer keeps the run going past 30.
  AddPathThrough(chor, "low", {{0, 50, 0}});
  FigureInstance& other = AddRider(chor, (dir / "arm.fig").string(), "low");
  other.dynamics = std::make_unique<Dynamics>();
  other.dynamics->inverseMass = 1.0f;
  other.dynamics->ranges = {{1, 36}};
  ASSERT_TRUE(RunDynamics(chor).completed);
  const ChannelSet& motion = *chor.figures[0].dynamics->motion;
  // Frames 5..29 are stepped; each step keys the frame after it.
  EXPECT_TRUE(HasKeyAt(motion, 1, 5));
  EXPECT_TRUE(HasKeyAt(motion, 1, 30));
  EXPECT_FALSE(HasKeyAt(motion, 1, 31)) << "frame 30 is the range's end: not stepped";
  EXPECT_FALSE(HasKeyAt(motion, 1, 4));
  const ChannelSet& longer = *chor.figures[1].dynamics->motion;
  EXPECT_TRUE(HasKeyAt(longer, 1, 36));
  EXPECT_FALSE(HasKeyAt(longer, 1, 37));
}

// Catches: an aborted run (Escape, or a figure that fails) leaving the
// motion it had half computed, or none, in place of the previous motion.
TEST(DynamicsTest, AStoppedRunLeavesThePreviousMotion) {
  TempDir dir;
  Choreography chor = DroppedArm(dir, 0.5f);
  ASSERT_TRUE(RunDynamics(chor).completed);
  const ChannelSet* before = chor.figures[0].dynamics->motion.get();
  ASSERT_NE(before, nullptr);
  std::vector<float> heights;
  for (int frame = 1; frame <= 31; ++frame) {
    heights.push_back(EvaluateChannel(*before, 1, static_cast<float>(frame)));
  }
  // Stopped at frame 12, after several bodies' steps were stored.
  int polls = 0;
  const DynamicsRun stopped = RunDynamics(chor, [&] { return ++polls == 12; });
  EXPECT_FALSE(stopped.completed);
  EXPECT_EQ(polls, 12);
  ASSERT_EQ(chor.figures[0].dynamics->motion.get(), before) << "the same keys, not a copy";
  for (int frame = 1; frame <= 31; ++frame) {
    EXPECT_EQ(EvaluateChannel(*before, 1, static_cast<float>(frame)),
              heights[static_cast<std::size_t>(frame - 1)])
        << frame;
  }
  EXPECT_FALSE(chor.dynamicsUpToDate) << "an aborted run leaves the dynamics out of date";
  // A figure that cannot be loaded ends the run the same way.
  chor.figures[0].fileName = (dir / "missing.fig").string();
  chor.figures[0].runtime.figure.reset();
  chor.figures[0].state |= kNeedsLoading;
  const DynamicsRun failed = RunDynamics(chor);
  EXPECT_EQ(failed.code, kFigureLoadError);
  EXPECT_EQ(chor.figures[0].dynamics->motion.get(), before);
}

// Catches: mass read or written as if the model kept it directly rather
// than as 1/mass (invisible with masses 0 and 1), and a fall that depends
// on the mass (under gravity alone every mass falls alike).
TEST(DynamicsTest, MassesOtherThanZeroAndOne) {
  TempDir dir;
  Choreography chor = DroppedArm(dir, 0.25f);  // mass 4
  AddPathThrough(chor, "low", {{0, 50, 0}});
  FigureInstance& light = AddRider(chor, (dir / "arm.fig").string(), "low");
  light.dynamics = std::make_unique<Dynamics>();
  light.dynamics->inverseMass = 2.0f;  // mass 0.5
  light.dynamics->bounce = 0.3f;
  light.dynamics->ranges = {{1, 2}};
  ASSERT_EQ(write_choreography(chor, (dir / "m.cho").string()), SaveStatus::kSaved);
  const std::string text = ReadFile(dir / "m.cho");
  EXPECT_NE(text.find("\n1\n4 50\n1\n5 30\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n1\n0.5 30\n1\n1 2\n"), std::string::npos) << text;
  Result<Choreography> back = read_choreography((dir / "m.cho").string());
  ASSERT_TRUE(back) << back.failure().detail;
  EXPECT_EQ(back->figures[0].dynamics->inverseMass, 0.25f);
  EXPECT_EQ(back->figures[1].dynamics->inverseMass, 2.0f);
  EXPECT_FLOAT_EQ(back->figures[1].dynamics->bounce, 0.3f);

  // y(t) = 1000 − g t²/2 for every mass; the momentum is mass × velocity.
  for (float inverseMass : {0.25f, 2.0f, 3.0f}) {
    const Body body{inverseMass, 0.0f, 0.0f};
    BodyState s = AtRest(1000);
    for (int i = 1; i <= 6; ++i) {
      s = StepBody(body, s, static_cast<float>(i) * kDynamicsStep, kDynamicsStep);
    }
    const double t = 6.0 * kDynamicsStep;
    EXPECT_NEAR(s[1], 1000.0 - 0.5 * kGravity * t * t, 1e-3) << inverseMass;
    EXPECT_NEAR(s[8], -kGravity * t / inverseMass, 1e-2) << inverseMass;
  }
}

}  // namespace
}  // namespace zentrope

namespace zentrope {
namespace {

// Catches: a range end of 2^24 or more never ending the run (a float frame
// counter stops advancing there), and ranges past the scene simulated at
// all; both refused before any frame is evaluated.
TEST(DynamicsTest, RangesPastTheSceneAreRefusedBeforeRunning) {
  TempDir dir;
  for (const float end : {41.0f, 16777216.0f, 3e38f}) {
    Choreography chor = DroppedArm(dir, 0.5f);  // 40 frames
    chor.figures[0].dynamics->ranges = {{5, end}};
    int polls = 0;
    const DynamicsRun run = RunDynamics(chor, [&] { return ++polls > 1000; });
    EXPECT_EQ(run.code, kDynamicsFailed) << end;
    EXPECT_NE(run.message.find("past the scene's last frame 40"), std::string::npos) << run.message;
    EXPECT_EQ(polls, 0) << "refused before the first frame";
    EXPECT_FALSE(run.completed);
  }
  // The scene's last frame itself is allowed.
  Choreography edge = DroppedArm(dir, 0.5f);
  edge.figures[0].dynamics->ranges = {{5, 40}};
  EXPECT_TRUE(RunDynamics(edge).completed);
}

// Catches: a body whose motion overflows (a bounce of 1e38 at the ground)
// keyed as inf or NaN, which the choreography writer would then print.
TEST(DynamicsTest, MotionThatStopsBeingANumberFailsTheRun) {
  TempDir dir;
  Choreography chor = DroppedArm(dir, 0.5f);
  chor.figures[0].dynamics->bounce = 1e38f;
  const DynamicsRun run = RunDynamics(chor);
  EXPECT_EQ(run.code, kDynamicsFailed);
  EXPECT_NE(run.message.find("no longer a number"), std::string::npos) << run.message;
  EXPECT_FALSE(run.completed);
  EXPECT_FALSE(chor.figures[0].dynamics->motion) << "the previous (no) motion is kept";
}

}  // namespace
}  // namespace zentrope

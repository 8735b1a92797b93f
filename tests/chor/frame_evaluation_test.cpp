// Frame evaluation: current placements and action frames, overload tracks,
// stride-driven walks, placement by role, bending, figures that cannot be
// loaded, the camera and lights, and stretching.
#include <gtest/gtest.h>

#include <cmath>

#include "anim/action_file.h"
#include "chor/frame_evaluation.h"
#include "chor/path_motion.h"
#include "chor/scene_lights.h"
#include "chor/stretch.h"
#include "core/rotation.h"
#include "figure/figure_document.h"
#include "scene_builder.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::AddPathThrough;
using testing::AddRider;
using testing::MatrixNear;
using testing::Placement;
using testing::SourceDir;
using testing::TempDir;
using testing::VectorNear;
using testing::WriteFile;

// The two-node arm of the examples, copied where the test may write.
std::string CopyArm(const TempDir& dir) {
  for (const char* name : {"arm.fig", "upper.seg", "lower.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples/arm" / name, dir / name);
  }
  return (dir / "arm.fig").string();
}

TEST(FrameEvaluationTest, WaitPlayAndHold) {
  Choreography chor = NewChoreography();
  FigureInstance f;
  const ActionPlacement p = Placement("a.act", 5, 3, 12, 20, 4);
  EXPECT_EQ(ActionFrame(f, p, 3, 3, chor), 3.0f) << "waiting shows the start frame";
  EXPECT_EQ(ActionFrame(f, p, 5.5f, 5.5f, chor), 3.0f);
  EXPECT_EQ(ActionFrame(f, p, 6, 6, chor), 3.0f) << "t = 1 shows start exactly";
  EXPECT_FLOAT_EQ(ActionFrame(f, p, 16, 16, chor), 3.0f + 10.0f * 10.0f / 20.0f);
  EXPECT_FLOAT_EQ(ActionFrame(f, p, 25, 25, chor), 3.0f + 19.0f * 10.0f / 20.0f);
  EXPECT_EQ(ActionFrame(f, p, 26, 26, chor), 12.0f) << "holding shows the end frame";
  ActionPlacement cyclic = p;
  cyclic.overlap = true;
  EXPECT_FLOAT_EQ(ActionFrame(f, cyclic, 25, 25, chor), 3.0f + 19.0f * 9.0f / 20.0f);
  ActionPlacement empty = Placement("a.act", 0, 5, 4, 10, 0);
  EXPECT_FLOAT_EQ(ActionFrame(f, empty, 3, 3, chor), 5.0f + 2.0f / 10.0f) << "frames ≤ 0 use 1";
}

TEST(FrameEvaluationTest, CurrentPlacementsFollowTheSpans) {
  Choreography chor = NewChoreography();
  FigureInstance f;
  f.tracks.resize(1);
  auto& list = f.tracks[0].placements;
  list.push_back(Placement("a.act", 2, 1, 8, 8, 0));  // span 10
  list.push_back(Placement("b.act", 0, 1, 5, 5, 0));  // span 5
  list.push_back(Placement("c.act", 0, 1, 6, 6, 2));  // span 8
  auto at = [&](float frame) {
    SelectPlacements(f, frame, chor);
    return std::make_pair(f.tracks[0].current, f.runtime.track0Local);
  };
  EXPECT_EQ(at(1), std::make_pair(0, 1.0f));
  EXPECT_EQ(at(9.5f), std::make_pair(0, 9.5f));
  EXPECT_EQ(at(10), std::make_pair(1, 0.0f));
  EXPECT_EQ(at(14), std::make_pair(1, 4.0f));
  EXPECT_EQ(at(15), std::make_pair(2, 0.0f));
  // After the track ends the last placement stays current, showing its end.
  EXPECT_EQ(at(100), std::make_pair(2, 85.0f));
  EXPECT_EQ(f.runtime.actionFrames[0], 6.0f);
}

TEST(FrameEvaluationTest, ATweenHoldsThePoseBeforeIt) {
  Choreography chor = NewChoreography();
  FigureInstance f;
  f.tracks.resize(1);
  f.tracks[0].placements.push_back(Placement("a.act", 0, 2, 9, 10, 0));
  f.tracks[0].placements.push_back(Placement("b.act", 0, 1, 5, 5, 0));
  InsertTween(f, 0, 1);
  SelectPlacements(f, 10.5f, chor);
  EXPECT_EQ(f.tracks[0].current, 1);
  EXPECT_EQ(f.runtime.actionFrames[0], 9.0f) << "the end of the placement before";
  SelectPlacements(f, 12, chor);
  EXPECT_EQ(f.tracks[0].current, 2);
  InsertTween(f, 0, 0);
  SelectPlacements(f, 0.5f, chor);
  EXPECT_EQ(f.tracks[0].current, 0);
  EXPECT_EQ(f.runtime.actionFrames[0], 1.0f) << "nothing before a leading tween";
}

TEST(FrameEvaluationTest, OverloadTracksTakeOverTheSegmentsTheyMove) {
  TempDir dir;
  const std::string armFile = CopyArm(dir);
  Result<Figure> arm = OpenFigure(armFile);
  ASSERT_TRUE(arm) << arm.failure().detail;
  // The main action moves both segments along X; the overload moves only the
  // lower arm, along Z.
  Action main, overload;
  main.length = overload.length = 10;
  for (int node : {0, 1}) {
    ASSERT_TRUE(SetPoseKey(main, *arm, node, 0, 1, 0, 0));
    ASSERT_TRUE(SetPoseKey(main, *arm, node, 0, 10, 9, 0));
  }
  ASSERT_TRUE(SetPoseKey(overload, *arm, 1, 2, 1, 0, 0));
  ASSERT_TRUE(SetPoseKey(overload, *arm, 1, 2, 10, 18, 0));
  ASSERT_EQ(WriteAction(main, (dir / "main.act").string(), &*arm), SaveStatus::kSaved);
  ASSERT_EQ(WriteAction(overload, (dir / "over.act").string(), &*arm), SaveStatus::kSaved);

  Choreography chor = NewChoreography();
  AddPathThrough(chor, "spot", {{0, 0, 0}});
  FigureInstance& f = AddRider(chor, armFile, "spot");
  f.role = kPositionOnly;
  f.tracks.resize(2);
  f.tracks[0].placements.push_back(Placement((dir / "main.act").string(), 0, 1, 10, 10, 0));
  f.tracks[1].placements.push_back(Placement((dir / "over.act").string(), 2, 1, 10, 10, 0));
  EvaluationOptions draw;
  draw.draw = true;
  ASSERT_EQ(evaluate_figures(Transform::Identity(), chor.figures, 5, chor, draw), 0);
  ASSERT_EQ(f.runtime.drivers.size(), 2u);
  EXPECT_EQ(f.runtime.drivers[0].track, 0);
  EXPECT_EQ(f.runtime.drivers[1].track, 1);
  EXPECT_EQ(f.runtime.actionFrames[0], 5.0f);
  EXPECT_EQ(f.runtime.actionFrames[1], 3.0f);
  const Figure& posed = *f.runtime.figure;
  // The upper arm follows the main action at its frame; the lower arm only
  // the overload at its own frame (rest X, moved Z).
  EXPECT_NEAR(posed.nodes[0].frameTransform.t[9],
              EvaluateChannel(*main.ChannelsOf(posed.nodes[0].name), 0, 5), 1e-4f);
  const float z = EvaluateChannel(*overload.ChannelsOf(posed.nodes[1].name), 2, 3);
  EXPECT_GT(z, 0.0f);
  EXPECT_TRUE(VectorNear(posed.nodes[1].frameTransform.Translation(),
                         posed.nodes[0].frameTransform.ApplyToPoint({0, -10, z}), 1e-4f));
  EXPECT_TRUE(f.tracks[0].placements[0].inUse);
}

// Catches: a figure whose segment is missing, or a placed action that
// cannot be read, evaluated as if nothing were wrong: the evaluation goes
// on, but each file is named once in the figure's problems.
TEST(FrameEvaluationTest, FilesThatCannotBeReadAreListed) {
  TempDir dir;
  const std::string armFile = CopyArm(dir);
  std::filesystem::remove(dir / "lower.seg");
  WriteFile(dir / "broken.act", "not an action\n");
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "spot", {{0, 0, 0}});
  FigureInstance& f = AddRider(chor, armFile, "spot");
  f.tracks.resize(1);
  f.tracks[0].placements.push_back(Placement((dir / "broken.act").string(), 0, 1, 10, 10, 0));
  EvaluationOptions draw;
  draw.draw = true;
  for (float frame : {2.0f, 5.0f}) {
    ASSERT_EQ(evaluate_figures(Transform::Identity(), chor.figures, frame, chor, draw), 0);
  }
  ASSERT_EQ(f.runtime.problems.size(), 2u);
  EXPECT_NE(f.runtime.problems[0].find((dir / "lower.seg").string()), std::string::npos)
      << f.runtime.problems[0];
  EXPECT_NE(f.runtime.problems[0].find("Trouble Opening Segment"), std::string::npos);
  EXPECT_NE(f.runtime.problems[1].find((dir / "broken.act").string()), std::string::npos)
      << f.runtime.problems[1];
}

TEST(FrameEvaluationTest, StrideDrivenCyclicWalk) {
  Choreography chor = NewChoreography();
  chor.scene.length = 41;
  const Path& road = AddPathThrough(chor, "road", {{0, 0, 0}, {100, 0, 0}});
  const float d = PathLength(road);
  FigureInstance& f = AddRider(chor, "walker.fig", "road");
  f.tracks.resize(1);
  ActionPlacement walk = Placement("walk.act", 0, 1, 25, 40, 0);
  walk.useStride = true;
  walk.strideLength = 10;
  walk.overlap = true;
  f.tracks[0].placements.push_back(walk);
  const float eEnd = 39.0f / 40.0f;
  const float cycles = std::floor(eEnd * d / 10.0f + 0.5f);
  for (float frame : {1.0f, 3.0f, 8.0f, 20.5f, 40.0f}) {
    PlaceFigure(Transform::Identity(), f, frame, chor);
    SelectPlacements(f, frame, chor);
    const float e1 = (frame - 1.0f) / 40.0f;
    const float n = cycles * (39.0f / 40.0f) * (e1 / eEnd);
    EXPECT_NEAR(f.runtime.actionFrames[0], 1.0f + (n - std::floor(n)) * 24.0f, 1e-3f) << frame;
  }
  // Twice the size, half the strides.
  SetKey(*f.placement, placement_channel::kYScale, 1, 200);
  PlaceFigure(Transform::Identity(), f, 9, chor);
  SelectPlacements(f, 9, chor);
  const float n2 = std::floor(eEnd * d / 20.0f + 0.5f) * (39.0f / 40.0f) * ((8.0f / 40.0f) / eEnd);
  EXPECT_NEAR(f.runtime.actionFrames[0], 1.0f + (n2 - std::floor(n2)) * 24.0f, 1e-3f);
  // A path that does not advance over the placement: frame 1.
  SetKey(*f.placement, kEase, 1, 30);
  SelectPlacements(f, 12, chor);
  EXPECT_EQ(f.runtime.actionFrames[0], 1.0f);
}

// Catches: the non-cyclic stride timing using the cyclic rule (or the ease
// fractions the wrong way round). Without overlap the action advances one
// stride per S units travelled: n = (e1 − e0) × D / S, frame 1 + frac(n) ×
// (end − start). The walk starts at frame 1 on a 100-unit road over 41
// frames, so e0 = 0 and e1 = (frame − 1) / 40; with S = 10 and a span of 24:
// frame 8 → n = 1.75 → 19; frame 20.5 → n = 4.875 → 22; frame 40 → n = 9.75
// → 19; frame 1 → 1.
TEST(FrameEvaluationTest, StrideDrivenWalkWithoutOverlap) {
  Choreography chor = NewChoreography();
  chor.scene.length = 41;
  AddPathThrough(chor, "road", {{0, 0, 0}, {100, 0, 0}});
  FigureInstance& f = AddRider(chor, "walker.fig", "road");
  f.tracks.resize(1);
  ActionPlacement walk = Placement("walk.act", 0, 1, 25, 40, 0);
  walk.useStride = true;
  walk.strideLength = 10;
  walk.overlap = false;
  f.tracks[0].placements.push_back(walk);
  const std::pair<float, float> expected[] = {{1, 1}, {8, 19}, {20.5f, 22}, {40, 19}};
  for (const auto& [frame, actionFrame] : expected) {
    PlaceFigure(Transform::Identity(), f, frame, chor);
    SelectPlacements(f, frame, chor);
    EXPECT_NEAR(f.runtime.actionFrames[0], actionFrame, 1e-3f) << frame;
  }
}

TEST(FrameEvaluationTest, PlacementByRole) {
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "road", {{0, 0, 0}, {100, 0, 0}});
  AddPathThrough(chor, "here", {{5, 0, 5}});
  AddPathThrough(chor, "there", {{5, 10, -5}});
  // Along the path: the front (−z) faces the way of travel.
  chor.figures.reserve(3);
  FigureInstance& walker = AddRider(chor, "a.fig", "road");
  PlaceFigure(Transform::Identity(), walker, 10, chor);
  EXPECT_TRUE(VectorNear(walker.runtime.placement.Linear() * Vector3{0, 0, -1}, {1, 0, 0}, 1e-3f));
  // Facing its target.
  FigureInstance& looker = AddRider(chor, "b.fig", "here");
  looker.role = kFacingTarget;
  looker.placement->next = CreateTargetSet(kFigureTargetName);
  looker.placement->next->referenceName = "there";
  PlaceFigure(Transform::Identity(), looker, 1, chor);
  EXPECT_EQ(looker.runtime.placement.Translation(), (Vector3{5, 0, 5}));
  EXPECT_TRUE(VectorNear(looker.runtime.placement.Linear() * Vector3{0, 0, -1},
                         Normalized({0, 10, -10}), 1e-5f));
  // Without a target of its own it faces the camera target.
  looker.placement->next.reset();
  chor.cameraTarget->referenceName = "road";
  PlaceFigure(Transform::Identity(), looker, 1, chor);
  EXPECT_TRUE(VectorNear(looker.runtime.placement.Linear() * Vector3{0, 0, -1},
                         Normalized({-5, 0, -5}), 1e-5f));
  // Position only, turned by Swivel; then scaled.
  FigureInstance& still = AddRider(chor, "c.fig", "road");
  still.role = kPositionOnly;
  SetKey(*still.placement, placement_channel::kSwivel, 1, 90);
  SetKey(*still.placement, placement_channel::kXScale, 1, 200);
  const Transform incoming = BuildRotation({0, 7, 0}, {0, 0, 0});
  PlaceFigure(incoming, still, 1, chor);
  EXPECT_TRUE(
      MatrixNear(still.runtime.placement.Linear(), BuildRotation({}, {0, 0, 90}).Linear(), 1e-6f));
  EXPECT_EQ(still.runtime.placement.Translation(), (Vector3{0, 7, 0}));
  EXPECT_EQ(still.runtime.scale, (Vector3{2, 1, 1}));
  SetKey(*still.placement, placement_channel::kAllScale, 1, 50);
  PlaceFigure(incoming, still, 1, chor);
  EXPECT_EQ(still.runtime.scale, (Vector3{0.5f, 0.5f, 0.5f}));
  // Simulated motion overrides the path.
  still.dynamics = std::make_unique<Dynamics>();
  still.dynamics->ranges = {{1, 10}};
  still.dynamics->motion = CreateDynamicsSet("c.fig");
  SetKey(*still.dynamics->motion, 1, 1, 33);
  PlaceFigure(Transform::Identity(), still, 4, chor);
  EXPECT_EQ(still.runtime.placement.Translation(), (Vector3{0, 33, 0}));
  EXPECT_TRUE(MatrixNear(still.runtime.placement.Linear(), Matrix3::Identity(), 1e-6f));
  PlaceFigure(Transform::Identity(), still, 11, chor);
  EXPECT_EQ(still.runtime.placement.Translation(),
            position_on_path(chor, still.placement.get(), 11).position)
      << "outside its range the path places it";
}

TEST(FrameEvaluationTest, BendingOnAStraightPathMatchesRidingIt) {
  TempDir dir;
  const std::string armFile = CopyArm(dir);
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "road", {{0, 0, 0}, {100, 0, 0}});
  AddRider(chor, armFile, "road");
  AddRider(chor, armFile, "road");
  FigureInstance& along = chor.figures[0];
  FigureInstance& bent = chor.figures[1];
  bent.role = kBentAlongPath;
  bent.kind = kDrawCurved;
  EvaluationOptions draw;
  draw.draw = true;
  ASSERT_EQ(evaluate_figures(Transform::Identity(), chor.figures, 15, chor, draw), 0);
  EXPECT_EQ(bent.state & kPoseOutOfDate, 0);
  const Figure& a = *along.runtime.figure;
  const Figure& b = *bent.runtime.figure;
  // The segments are shared between the two instances' figures only by
  // their rest splines; each has its own working copy.
  for (std::size_t n = 0; n < a.nodes.size(); ++n) {
    std::vector<Vector3> ridden, bentPoints;
    a.nodes[n].segment->working.ForEachPoint([&](ControlPoint& p) {
      ridden.push_back(a.nodes[n].geometryTransform.ApplyToPoint(p.position));
    });
    b.nodes[n].segment->working.ForEachPoint(
        [&](ControlPoint& p) { bentPoints.push_back(p.position); });
    ASSERT_EQ(ridden.size(), bentPoints.size());
    for (std::size_t i = 0; i < ridden.size(); ++i) {
      EXPECT_TRUE(VectorNear(bentPoints[i], ridden[i], 0.05f)) << n << " " << i;
    }
  }
}

// A one-node figure whose segment has a cross in its own z = 0 plane and a
// spline along z, saved where the test may write.
std::string CrossFigure(const TempDir& dir) {
  Segment seg;
  const Vector3 cross[] = {{6, 0, 0}, {0, 4, 0}, {-6, 0, 0}};
  const Vector3 spine[] = {{0, 0, -10}, {0, 0, 0}, {0, 0, 10}};
  seg.Splines().AppendSpline(cross);
  seg.Splines().AppendSpline(spine);
  seg.Renumber();
  seg.Splines().PlaceStacksAndTangents();
  seg.path = (dir / "cross.seg").string();
  seg.MarkModified(kSegmentSplinesChanged);
  EXPECT_TRUE(SaveSegment(seg).Ok());
  Figure figure;
  figure.path = (dir / "cross.fig").string();
  figure.AddSegment(kNoNode, seg.path);
  EXPECT_TRUE(SaveFigure(figure).Ok());
  return figure.path;
}

// Catches: bending in Bound mode reading the figure's coordinates from the
// placement that already carries the path's heading, which turns the bent
// figure 90 degrees (or any other angle) away from the one riding the path.
TEST(FrameEvaluationTest, BendingInBoundModeOnACurvedPathMatchesRidingAtTheOrigin) {
  TempDir dir;
  const std::string file = CrossFigure(dir);
  Choreography chor = NewChoreography();
  const Path& road = AddPathThrough(chor, "road", {{0, 0, 0}, {40, 10, -30}, {100, 0, 0}});
  AddRider(chor, file, "road");
  AddRider(chor, file, "road");
  FigureInstance& riding = chor.figures[0];
  FigureInstance& bent = chor.figures[1];
  bent.role = kBentAlongPath;
  bent.kind = kDrawBound;
  EvaluationOptions draw;
  draw.draw = true;
  const float frame = 12;
  ASSERT_EQ(evaluate_figures(Transform::Identity(), chor.figures, frame, chor, draw), 0);
  const PathPosition at = position_on_path(chor, riding.placement.get(), frame);
  ASSERT_GT(at.distance, 15.0f);
  ASSERT_LT(at.distance, PathLength(road) - 15.0f);
  // The path turns at P: the direction is neither along x nor along z.
  ASSERT_GT(std::abs(at.direction.x), 0.1f);
  ASSERT_GT(std::abs(at.direction.z), 0.1f);
  const FigureNode& r = riding.runtime.figure->nodes[0];
  const FigureNode& b = bent.runtime.figure->nodes[0];
  ASSERT_EQ(b.geometryTransform, Transform::Identity()) << "bent points are world points";
  // Points in the figure's z = 0 plane lie across the path at P, where the
  // figure riding the path has them, with the same tangents.
  for (std::int32_t n : {1, 2, 3, 5}) {
    const ControlPoint* rp = r.segment->working.FindByNumber(n);
    const ControlPoint* bp = b.segment->working.FindByNumber(n);
    ASSERT_TRUE(rp && bp);
    EXPECT_TRUE(VectorNear(bp->position, r.geometryTransform.ApplyToPoint(rp->position), 1e-2f))
        << n;
    EXPECT_TRUE(
        VectorNear(bp->inTangent, r.geometryTransform.ApplyToDirection(rp->inTangent), 1e-2f))
        << n;
    EXPECT_TRUE(
        VectorNear(bp->outTangent, r.geometryTransform.ApplyToDirection(rp->outTangent), 1e-2f))
        << n;
  }
  // Along z the figure follows the curve: z = 10 lies 10 back along the
  // path, z = −10 10 ahead.
  EXPECT_TRUE(VectorNear(b.segment->working.FindByNumber(6)->position,
                         PointAtDistance(road, at.distance - 10.0f).position, 1e-2f));
  EXPECT_TRUE(VectorNear(b.segment->working.FindByNumber(4)->position,
                         PointAtDistance(road, at.distance + 10.0f).position, 1e-2f));
}

TEST(FrameEvaluationTest, AFigureThatCannotBeLoadedStopsTheEvaluation) {
  TempDir dir;
  const std::string armFile = CopyArm(dir);
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "p", {{0, 0, 0}});
  FigureInstance& parent = AddRider(chor, armFile, "p");
  FigureInstance child;
  child.fileName = (dir / "missing.fig").string();
  parent.children.push_back(std::move(child));
  std::string message;
  EXPECT_EQ(evaluate_figures(Transform::Identity(), chor.figures, 1, chor, {}, &message),
            kFigureLoadError);
  EXPECT_NE(message.find("missing.fig"), std::string::npos) << message;
  EXPECT_FALSE(parent.runtime.figure) << "children are evaluated first";
  parent.children.clear();
  EXPECT_EQ(evaluate_figures(Transform::Identity(), chor.figures, 1, chor, {}, &message), 0);
  EXPECT_TRUE(parent.runtime.figure);
  EXPECT_EQ(parent.state & kNeedsLoading, 0);
}

TEST(FrameEvaluationTest, TheDrawingStepsResultStopsTheEvaluation) {
  TempDir dir;
  const std::string armFile = CopyArm(dir);
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "p", {{1, 2, 3}});
  AddRider(chor, armFile, "p");
  AddRider(chor, armFile, "p");
  int seen = 0;
  EvaluationOptions options;
  options.draw = true;
  options.sink = [&](FigureInstance&, const Transform& placement, const Vector3& scale) {
    ++seen;
    EXPECT_EQ(placement.Translation(), (Vector3{1, 2, 3}));
    EXPECT_EQ(scale, (Vector3{1, 1, 1}));
    return 42;
  };
  EXPECT_EQ(evaluate_figures(Transform::Identity(), chor.figures, 1, chor, options), 42);
  EXPECT_EQ(seen, 1);
}

TEST(SceneLightsTest, CameraAndLightsAtAFrame) {
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "lamp", {{0, 10, 0}});
  AddPathThrough(chor, "floor", {{0, 0, 0}});
  Light& light = chor.lights[0];
  light.set->referenceName = "lamp";
  const LightState plain = LightAt(chor, light, 1);
  EXPECT_EQ(plain.type, 1);
  EXPECT_EQ(plain.width, 0.0f);
  EXPECT_FALSE(plain.aimed);
  EXPECT_TRUE(VectorNear(plain.colour, Vector3{191, 191, 191} * (1.0f / 255.0f), 1e-6f));
  EXPECT_EQ(plain.direction, (Vector3{0, 1, 0}));
  EXPECT_EQ(plain.reach, 10.0f) << "no Distance keys: the distance to the target";
  EXPECT_EQ(plain.reachSquared, 100.0f);
  light.target = CreateTargetSet(kLightTargetName);
  light.target->referenceName = "floor";
  SetKey(*light.set, light_channel::kWidth, 1, 30);
  SetKey(*light.set, light_channel::kAllColors, 1, 51);
  SetKey(*light.set, light_channel::kDistance, 1, 25);
  const LightState spot = LightAt(chor, light, 1);
  EXPECT_TRUE(spot.aimed);
  EXPECT_TRUE(VectorNear(spot.rotation * Vector3{0, 0, -1}, {0, -1, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(spot.colour, {0.2f, 0.2f, 0.2f}, 1e-6f));
  EXPECT_EQ(spot.reach, 25.0f);
  SetKey(*light.set, light_channel::kType, 1, 9);
  EXPECT_EQ(LightAt(chor, light, 1).type, 0) << "types outside 0..8 become 0";
  SetKey(*light.set, light_channel::kType, 1, 6);
  light.set->channels[light_channel::kWidth].keys = nullptr;
  EXPECT_EQ(LightAt(chor, light, 1).width, 50.0f);

  SetKey(*chor.camera, camera_channel::kRedBackground, 1, 255);
  SetKey(*chor.camera, camera_channel::kFocalLength, 1, 0.1f);
  const CameraState camera = CameraAt(chor, 1);
  EXPECT_FALSE(camera.onPath);
  EXPECT_EQ(camera.zoom, 1.0f) << "at least 1";
  EXPECT_EQ(camera.background, (Vector3{1, 0, 0}));
  EXPECT_EQ(camera.channels[11], 10.0f);
}

TEST(StretchTest, KeysPlacementsAndLengthScale) {
  Choreography chor = NewChoreography();
  chor.scene.length = 30;
  AddPathThrough(chor, "p", {{0, 0, 0}, {10, 0, 0}});
  FigureInstance& f = AddRider(chor, "a.fig", "p");
  f.tracks.resize(2);
  ActionPlacement p = Placement("a.act", 3, 2, 9, 10, 4);
  p.overlap = true;
  f.tracks[0].placements.push_back(p);
  f.tracks[1].placements.push_back(p);
  // Keys store frame − 1, which is what scales: frame 11 (x 10) goes to
  // x 15, frame 16; frame 1 stays frame 1.
  SetKey(*f.placement, kEase, 11, 50);
  SetKey(*chor.camera, camera_channel::kRoll, 5, 45);
  SetKey(*chor.lights[0].set, light_channel::kRed, 21, 10);
  EXPECT_EQ(StretchedLength(30, 150), 45);
  EXPECT_FLOAT_EQ(StretchPercent(30, 45), 150.0f);
  StretchChoreography(chor, 1.5f);
  EXPECT_EQ(chor.scene.length, 45);
  const ActionPlacement& s = f.tracks[0].placements[0];
  EXPECT_EQ(s.hold, 6);
  EXPECT_EQ(s.length, static_cast<std::int16_t>(11 * 1.5f - 1));
  EXPECT_EQ(s.wait, 3);
  EXPECT_EQ(s.start, 2);
  EXPECT_EQ(f.tracks[1].placements[0].length, 10) << "overload tracks keep their timing";
  EXPECT_TRUE(HasKeyAt(*f.placement, kEase, 16));
  EXPECT_EQ(EvaluateChannel(*f.placement, kEase, 16), 50.0f);
  EXPECT_NEAR(EvaluateChannel(*chor.camera, camera_channel::kRoll, 7), 45.0f, 1e-4f);
  EXPECT_TRUE(HasKeyAt(*chor.lights[0].set, light_channel::kRed, 31));
}

// Catches: the stretch scaling the user frame instead of the stored frame − 1,
// which moves the key at frame 1 to frame f and leaves the frames before it
// showing the last key's value.
TEST(StretchTest, TheFirstFrameStaysInPlace) {
  Choreography chor = NewChoreography();
  chor.scene.length = 30;
  // Roll keyed at frame 1 (10) and frame 9 (50); a straight line between.
  SetKey(*chor.camera, camera_channel::kRoll, 1, 10);
  SetKey(*chor.camera, camera_channel::kRoll, 9, 50);
  StretchChoreography(chor, 2.0f);
  const ControlPoint* first = chor.camera->channels[camera_channel::kRoll].keys;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->position.x, 0.0f);
  EXPECT_TRUE(HasKeyAt(*chor.camera, camera_channel::kRoll, 1));
  EXPECT_TRUE(HasKeyAt(*chor.camera, camera_channel::kRoll, 17)) << "x 8 becomes x 16";
  EXPECT_EQ(EvaluateChannel(*chor.camera, camera_channel::kRoll, 1), 10.0f);
  // Two keys make a straight line: halfway (frame 9 of 1..17) is 30.
  EXPECT_NEAR(EvaluateChannel(*chor.camera, camera_channel::kRoll, 9), 30.0f, 1e-3f);
  EXPECT_NEAR(EvaluateChannel(*chor.camera, camera_channel::kRoll, 1.5f), 11.25f, 1e-3f);
}

}  // namespace
}  // namespace zentrope

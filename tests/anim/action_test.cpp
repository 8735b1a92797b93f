// Skeletal actions: poses from channels, keys from poses, the action file.
#include <gtest/gtest.h>

#include <cmath>

#include "anim/action_file.h"
#include "core/rotation.h"
#include "support/elementary_rotations.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::MatrixNear;
using testing::ReadFile;
using testing::Roll;
using testing::Rx;
using testing::Ry;
using testing::SourceDir;
using testing::TempDir;
using testing::VectorNear;

Figure TwoNodes() {
  Figure figure;
  const int root = figure.AddSegment(kNoNode, "/models/upper.seg");
  figure.AddSegment(root, "/models/lower.seg");
  figure.nodes[1].position = {0, -10, 0};
  figure.nodes[1].rotation = {20, 30, 40};
  return figure;
}

TEST(ActionTest, DirectionAndAngles) {
  float lat = 0, lon = 0;
  AnglesFromOrient({0, -100, 0}, lat, lon);
  EXPECT_EQ(lat, 0.0f);
  EXPECT_EQ(lon, 0.0f);
  AnglesFromOrient({100, 0, 0}, lat, lon);
  EXPECT_NEAR(lat, 90.0f, 1e-5f);
  EXPECT_NEAR(lon, -90.0f, 1e-5f);
  const Vector3 d = OrientFromAngles(35, -120);
  AnglesFromOrient(d, lat, lon);
  EXPECT_NEAR(lat, 35.0f, 1e-4f);
  EXPECT_NEAR(lon, -120.0f, 1e-4f);
}

TEST(ActionTest, UnkeyedDirectionKeepsTheFiguresAngles) {
  Figure figure = TwoNodes();
  Action action;
  ASSERT_TRUE(SetPoseKey(action, figure, 1, 9, 5, 70, 40));  // Roll only
  Vector3 angles;
  EvaluatePose(figure.nodes[1], action.ChannelsOf("/models/lower.seg"), 5, &angles);
  EXPECT_EQ(angles.x, 20.0f);
  EXPECT_EQ(angles.y, 30.0f);
  EXPECT_EQ(angles.z, 70.0f);
}

TEST(ActionTest, DirectionKeysTurnTheNode) {
  Figure figure = TwoNodes();
  Action action;
  ChannelSet* set = nullptr;
  ASSERT_TRUE(SetPoseKey(action, figure, 1, 6, 1, 0, 0));
  set = action.ChannelsOf("/models/lower.seg");
  SetKey(*set, 7, 1, -100);
  SetKey(*set, 8, 1, 0);
  SetKey(*set, 6, 11, 100);
  SetKey(*set, 7, 11, 0);
  SetKey(*set, 8, 11, 0);
  Vector3 angles;
  EvaluatePose(figure.nodes[1], set, 1, &angles);
  EXPECT_NEAR(angles.x, 0.0f, 1e-5f);
  const NodePose pose = EvaluatePose(figure.nodes[1], set, 11, &angles);
  EXPECT_NEAR(angles.x, 90.0f, 1e-4f);
  EXPECT_NEAR(angles.y, -90.0f, 1e-4f);
  EXPECT_TRUE(MatrixNear(pose.rotation, BuildRollRotation({}, angles).Linear(), 1e-6f));
}

TEST(ActionTest, SetPoseKeyFixesFrameOneAtRest) {
  Figure figure = TwoNodes();
  Action action;
  ASSERT_TRUE(SetPoseKey(action, figure, 0, 3, 10, 150, 100));
  const ChannelSet* set = action.ChannelsOf("/models/upper.seg");
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->kind, 16);
  EXPECT_EQ(set->name, "/models/upper.seg");
  const ControlPoint* k = set->channels[3].keys;
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->position, (Vector3{0, 100, 0}));
  EXPECT_EQ(k->next->position, (Vector3{9, 150, 0}));
  EXPECT_EQ(figure.nodes[0].channelSet, set);
  // Orientation keys: the node's rest direction at frame 1.
  ASSERT_TRUE(SetOrientKeys(action, figure, 1, 5, 90, 0));
  const ChannelSet* lower = action.ChannelsOf("/models/lower.seg");
  const Vector3 rest = OrientFromAngles(20, 30);
  EXPECT_NEAR(lower->channels[7].keys->position.y, rest.y * 100.0f, 1e-4f);
  EXPECT_NEAR(EvaluateChannel(*lower, 8, 5), 100.0f, 1e-4f);
}

TEST(ActionTest, PosingWithAnActionAndTheReferenceSize) {
  Figure figure = TwoNodes();
  figure.nodes[0].size = 10.0f;
  figure.nodes[0].scale = {1, 2, 1};
  Action action;
  SetPoseKey(action, figure, 1, 0, 3, 6, 0);  // X Translate 6 at frame 3
  action.Bind(figure);
  PoseFigure(figure, Transform::Identity(), {1, 1, 1}, ActionPose(action, 3));
  // Under the patriarch's scale (1, 2, 1): pivot at (6, −20, 0).
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), {6, -20, 0}, 1e-5f));
  action.referenceSize = 10.0f;  // made on a figure half this one's size (2 · 10 / 10)
  PoseFigure(figure, Transform::Identity(), {1, 1, 1}, ActionPose(action, 3));
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), {12, -20, 0}, 1e-5f));
}

TEST(ActionTest, TwoNodesPosedByAnActionAgainstTransformsComposedByHand) {
  Figure figure = TwoNodes();
  FigureNode& p = figure.nodes[0];
  p.rotation = {10, 20, 0};
  p.scale = {1, 1, 2};
  FigureNode& c = figure.nodes[1];
  c.cogRotation = {0, 30, 0};
  c.RebuildCog();
  c.scale = {1, 3, 1};
  Action action;
  ASSERT_TRUE(SetPoseKey(action, figure, 1, 0, 5, 1, 0));
  ASSERT_TRUE(SetPoseKey(action, figure, 1, 1, 5, 2, 0));
  ASSERT_TRUE(SetPoseKey(action, figure, 1, 2, 5, 3, 0));
  ASSERT_TRUE(SetPoseKey(action, figure, 1, 3, 5, 200, 100));
  ASSERT_TRUE(SetOrientKeys(action, figure, 1, 5, 45, 30));
  ASSERT_TRUE(SetPoseKey(action, figure, 1, 9, 5, 10, 40));
  action.Bind(figure);
  PoseFigure(figure, Transform::Identity(), {1, 1, 1}, ActionPose(action, 5));

  const Matrix3 pAxes = Roll({10, 20, 0});
  const Vector3 pScale{1, 1, 2};
  const Vector3 pivot = pAxes * Vector3{1 * 1, (2 - 10) * 1, 3 * 2};
  const Matrix3 axes = pAxes * Roll({0, 30, 0}) * Roll({45, 30, 10});
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), pivot, 1e-4f));
  EXPECT_TRUE(MatrixNear(figure.nodes[1].frameTransform.Linear(), axes, 1e-4f));
  Matrix3 geometry = axes * Transpose(Roll({0, 30, 0}));
  ScaleColumns(geometry, {1 * 2 * 1, 1 * 1 * 3, 2 * 1 * 1});
  EXPECT_TRUE(MatrixNear(figure.nodes[1].geometryTransform.Linear(), geometry, 1e-4f));
  // Frame 1 is the rest pose.
  PoseFigure(figure, Transform::Identity(), {1, 1, 1}, ActionPose(action, 1));
  EXPECT_TRUE(MatrixNear(figure.nodes[1].frameTransform.Linear(),
                         pAxes * Roll({0, 30, 0}) * Roll(c.rotation), 1e-4f));
}

TEST(ActionTest, DeleteFramesOnTheSubtree) {
  Figure figure = TwoNodes();
  Action action;
  for (int node : {0, 1}) {
    for (float f : {10.0f, 22.0f, 30.0f}) {
      SetPoseKey(action, figure, node, 0, f, f, 0);
    }
  }
  DeleteFrames(action, figure, 20, 5);
  for (const char* path : {"/models/upper.seg", "/models/lower.seg"}) {
    std::vector<float> xs;
    for (const ControlPoint* k = action.ChannelsOf(path)->channels[0].keys; k; k = k->next) {
      xs.push_back(k->position.x);
    }
    EXPECT_EQ(xs, (std::vector<float>{0, 9, 24})) << path;
  }
  InsertFrames(action, figure, 1, 2);
  EXPECT_EQ(action.ChannelsOf("/models/lower.seg")->channels[0].keys->next->position.x, 11.0f);
}

TEST(ActionFileTest, ExampleReadsAndRewritesByteIdentically) {
  const std::string example = (SourceDir() / "examples" / "arm" / "wave.act").string();
  Result<Action> action = ReadAction(example);
  ASSERT_TRUE(action) << action.failure().detail;
  EXPECT_EQ(action->length, 30);
  ASSERT_EQ(action->entries.size(), 1u);
  EXPECT_EQ(action->entries[0].channels->defaults.size(), 10u);
  TempDir dir;
  std::filesystem::copy_file(SourceDir() / "examples" / "arm" / "lower.seg", dir / "lower.seg");
  ASSERT_EQ(WriteAction(*action, (dir / "a.act").string()), SaveStatus::kSaved);
  Result<Action> again = ReadAction((dir / "a.act").string());
  ASSERT_TRUE(again) << again.failure().detail;
  ASSERT_EQ(WriteAction(*again, (dir / "b.act").string()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "a.act"), ReadFile(dir / "b.act"));
}

TEST(ActionFileTest, KeepsOnlyTheFiguresSegments) {
  TempDir dir;
  Figure figure = TwoNodes();
  Action action;
  SetPoseKey(action, figure, 0, 1, 4, 2, 0);
  SetPoseKey(action, figure, 1, 1, 4, 3, 0);
  action.entries[1].musclePath = "/models/muscle/a.mus";
  ASSERT_EQ(WriteAction(action, (dir / "two.act").string(), &figure), SaveStatus::kSaved);
  Figure small;
  small.AddSegment(kNoNode, "/models/lower.seg");
  Result<Action> read = ReadAction((dir / "two.act").string(), &small);
  ASSERT_TRUE(read) << read.failure().detail;
  ASSERT_EQ(read->entries.size(), 1u);
  EXPECT_EQ(read->entries[0].segmentPath, "/models/lower.seg");
  EXPECT_EQ(read->entries[0].musclePath, "/models/muscle/a.mus");
  EXPECT_EQ(EvaluateChannel(*read->entries[0].channels, 1, 4), 3.0f);
}

TEST(ActionFileTest, VersionsAndBadRecords) {
  Result<Action> newer = ParseAction("ACTI 2 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\n", "n.act");
  ASSERT_FALSE(newer);
  EXPECT_EQ(newer.failure().message, "Requires Newer Software");
  for (const std::string bad :
       {"ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0\n0\n", "ACTI 1 0 1 0 0 0\n0\n30\n",
        "ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\nseg\n2\n10 16 2\n",
        "ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\nseg\nnoskeletal\nnomuscle\n"}) {
    Result<Action> a = ParseAction(bad, "bad.act");
    ASSERT_FALSE(a) << bad;
    EXPECT_EQ(a.failure().message, "Trouble Opening Action");
  }
  Result<Action> empty = ParseAction("ACTI 1 0 1 0 0 0\n0\n12\n1 2 3 4 5 6 7 8 9\n2.5\n", "e.act");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->strideLength, 7.0f);
  EXPECT_EQ(empty->strideValues[1], 9);
  EXPECT_EQ(empty->referenceSize, 2.5f);
}

}  // namespace
}  // namespace zentrope

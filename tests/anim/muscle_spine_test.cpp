// Muscle motion and spines: deformation by hand-worked values, binding, and
// the files that travel with an action.
#include <gtest/gtest.h>

#include "anim/action_file.h"
#include "figure/figure_document.h"
#include "figure/pose.h"
#include "model/segment_file.h"
#include "support/elementary_rotations.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::MatrixNear;
using testing::Rx;
using testing::Ry;
using testing::TempDir;
using testing::VectorNear;

// Splines A (1, 2, 3) and B (4, 5); 5 stacked on 2.
Segment Stacked() {
  Segment seg;
  const Vector3 a[] = {{0, 0, 0}, {2, 0, 0}, {4, 1, 0}};
  const Vector3 b[] = {{2, 3, 0}, {2, 0, 0}};
  ControlPoint* sa = seg.Splines().AppendSpline(a);
  ControlPoint* sb = seg.Splines().AppendSpline(b);
  sa->next->attachedAbove = sb->next;
  sb->next->attachedTo = sa->next;
  seg.Renumber();
  seg.Splines().PlaceStacksAndTangents();
  seg.RebuildWorkingCopy();
  return seg;
}

TEST(MuscleTest, MotionCarriesTheStack) {
  Segment seg = Stacked();
  MuscleRecords records;
  const ControlPoint& p2 = *seg.Splines().FindByNumber(2);
  for (int c = 0; c < 3; ++c) {
    ASSERT_TRUE(SetMuscleKey(records, p2, c, 3, c == 0 ? 1.0f : 0.0f));
  }
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, kMuscleFree);
  // The attached point takes bias records only.
  const ControlPoint& p5 = *seg.Splines().FindByNumber(5);
  EXPECT_FALSE(SetMuscleKey(records, p5, 0, 3, 1.0f));
  ASSERT_TRUE(SetMuscleKey(records, p5, 3, 3, 20.0f));
  EXPECT_EQ(records[1].type, kMuscleAttached);
  ApplyMuscle(records, seg.Splines(), seg.working, 3);
  EXPECT_EQ(seg.working.FindByNumber(2)->position, (Vector3{3, 0, 0}));
  EXPECT_EQ(seg.working.FindByNumber(5)->position, (Vector3{3, 0, 0}));
  EXPECT_EQ(seg.working.FindByNumber(5)->alphaIn, 20.0f);
  // Frame 1 was keyed at rest.
  seg.ResetWorkingCopy();
  ApplyMuscle(records, seg.Splines(), seg.working, 1);
  EXPECT_EQ(seg.working.FindByNumber(2)->position, (Vector3{2, 0, 0}));
  // The rest points never move.
  EXPECT_EQ(seg.Splines().FindByNumber(2)->position, (Vector3{2, 0, 0}));
}

TEST(MuscleTest, BiasOffsetsOnSmoothAndPeakedPoints) {
  Segment seg = Stacked();
  ControlPoint* smooth = seg.Splines().FindByNumber(2);
  smooth->SetInBias({5, 1, 2});
  ControlPoint* peaked = seg.Splines().FindByNumber(3);
  peaked->flags &= static_cast<std::uint16_t>(~kPointSmooth);
  peaked->SetOutBias({3, 4, 2});
  seg.RebuildWorkingCopy();
  MuscleRecords records;
  const float values[6] = {10, 0, 50, 99, 99, 99};
  for (int b = 0; b < 6; ++b) {
    ASSERT_TRUE(SetMuscleKey(records, *smooth, 3 + b, 4, values[b]));
    ASSERT_TRUE(SetMuscleKey(records, *peaked, 3 + b, 4, values[b]));
  }
  ApplyMuscle(records, seg.Splines(), seg.working, 4);
  const ControlPoint* w = seg.working.FindByNumber(2);
  EXPECT_EQ(w->InBias(), (Bias{15, 1, 1}));
  EXPECT_EQ(w->OutBias(), w->InBias());  // the Out values 99 are not used
  const ControlPoint* wp = seg.working.FindByNumber(3);
  EXPECT_EQ(wp->alphaOut, 102.0f);
  EXPECT_EQ(wp->gammaOut, 103.0f);
  EXPECT_NEAR(wp->magnitudeOut, 1.98f, 1e-6f);
}

TEST(MuscleTest, RecordedEditsKeyDisplacementAndBias) {
  Segment seg = Stacked();
  const ControlPoint& rest = *seg.Splines().FindByNumber(1);
  ControlPoint edited = rest;
  edited.position += Vector3{0, 2, 0};
  edited.magnitudeIn = 3.0f;
  MuscleRecords records;
  ASSERT_TRUE(RecordMuscleKeys(records, {{&rest, &edited}}, 6, seg.working));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(EvaluateChannel(*records[0].motion, 1, 6), 2.0f);
  EXPECT_EQ(EvaluateChannel(*records[0].bias, 2, 6), 300.0f);
  EXPECT_EQ(EvaluateChannel(*records[0].bias, 0, 6), 0.0f);
}

// Catches: recording only displacements and bias values that differ from
// rest, so that a point or a bias put back to rest at a keyed frame keeps
// its old key.
TEST(MuscleTest, RecordingAPointBackAtRestKeysRest) {
  Segment seg = Stacked();
  const ControlPoint& rest = *seg.Splines().FindByNumber(1);
  ControlPoint edited = rest;
  edited.position += Vector3{0, 2, 0};
  edited.magnitudeIn = 3.0f;
  edited.alphaOut = rest.alphaOut + 15.0f;
  MuscleRecords records;
  ASSERT_TRUE(RecordMuscleKeys(records, {{&rest, &edited}}, 6, seg.working));
  ControlPoint further = edited;
  further.position += Vector3{0, 1, 0};
  further.magnitudeIn = 4.0f;
  further.alphaOut += 5.0f;
  ASSERT_TRUE(RecordMuscleKeys(records, {{&rest, &further}}, 10, seg.working));
  // Back to rest at frame 6: every channel is keyed there to its rest value.
  const ControlPoint atRest = rest;
  ASSERT_TRUE(RecordMuscleKeys(records, {{&rest, &atRest}}, 6, seg.working));
  ASSERT_EQ(records.size(), 1u);
  const MuscleRecord& r = records[0];
  EXPECT_TRUE(HasKeyAt(*r.motion, 1, 6));
  EXPECT_EQ(EvaluateChannel(*r.motion, 1, 6), 0.0f);
  EXPECT_EQ(EvaluateChannel(*r.bias, 2, 6), 100.0f);
  EXPECT_EQ(EvaluateChannel(*r.bias, 3, 6), 0.0f);
  // Frame 10 keeps its keys.
  EXPECT_EQ(EvaluateChannel(*r.motion, 1, 10), 3.0f);
  EXPECT_EQ(EvaluateChannel(*r.bias, 2, 10), 400.0f);
  EXPECT_EQ(EvaluateChannel(*r.bias, 3, 10), 20.0f);
  // Applied at frame 6 the point is where it rests.
  ApplyMuscle(records, seg.Splines(), seg.working, 6);
  const ControlPoint* w = seg.working.FindByNumber(1);
  EXPECT_EQ(w->position, rest.position);
  EXPECT_EQ(w->magnitudeIn, rest.magnitudeIn);
  // Nothing edited: nothing keyed (no record for an untouched point).
  const ControlPoint& other = *seg.Splines().FindByNumber(3);
  ASSERT_TRUE(RecordMuscleKeys(records, {{&other, &other}}, 6, seg.working));
  EXPECT_EQ(records.size(), 1u);
}

// Catches: recording keys without recomputing the edit buffer's tangents,
// which leaves the edited curve drawn from the old positions.
TEST(MuscleTest, RecordingRecomputesTheEditedTangents) {
  Segment seg;
  const Vector3 line[] = {{0, 0, 0}, {4, 0, 0}};
  seg.Splines().AppendSpline(line);
  seg.Renumber();
  seg.Splines().PlaceStacksAndTangents();
  SplineSet buffer = seg.Splines().DeepCopy(true);
  ControlPoint* moved = buffer.FindByNumber(2);
  moved->position = {4, 6, 0};
  MuscleRecords records;
  ASSERT_TRUE(RecordMuscleKeys(records, {{seg.Splines().FindByNumber(2), moved}}, 3, buffer));
  // A two-point spline: both points' tangents are (P0 − P1) / 2.
  const ControlPoint* first = buffer.FindByNumber(1);
  EXPECT_TRUE(VectorNear(first->inTangent, {-2, -3, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(first->outTangent, {-2, -3, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(moved->inTangent, {-2, -3, 0}, 1e-5f));
  EXPECT_EQ(EvaluateChannel(*records[0].motion, 1, 3), 6.0f);
}

// Catches: a peaked point's Out Magnitude taken from the In channel, from
// the nearest key, or from a whole frame, between two keys.
TEST(MuscleTest, PeakedOutMagnitudeBetweenKeys) {
  Segment seg = Stacked();
  ControlPoint* peaked = seg.Splines().FindByNumber(3);
  peaked->flags &= static_cast<std::uint16_t>(~kPointSmooth);
  peaked->magnitudeIn = 1.0f;
  peaked->magnitudeOut = 2.0f;
  seg.RebuildWorkingCopy();
  MuscleRecords records;
  // Magnitude Out: 100 at frame 1 (rest), 200 at frame 5; two keys make a
  // straight line, 150 at frame 3 and 125 at frame 2.
  ASSERT_TRUE(SetMuscleKey(records, *peaked, 8, 5, 200.0f));
  ASSERT_TRUE(SetMuscleKey(records, *peaked, 5, 5, 40.0f));  // Magnitude In
  for (const auto& [frame, factor] :
       {std::pair{3.0f, 1.5f}, std::pair{2.0f, 1.25f}, std::pair{2.5f, 1.375f}}) {
    seg.ResetWorkingCopy();
    ApplyMuscle(records, seg.Splines(), seg.working, frame);
    const ControlPoint* w = seg.working.FindByNumber(3);
    EXPECT_NEAR(w->magnitudeOut, 2.0f * factor, 1e-4f) << frame;
    // In: 100 → 40 over the same frames.
    EXPECT_NEAR(w->magnitudeIn, 1.0f - 0.6f * (factor - 1.0f), 1e-4f) << frame;
  }
}

// Two spine points (0,0,0) and (0,10,0) on the first spline; the second
// spline's points follow them.
Segment Spined() {
  Segment seg;
  const Vector3 spine[] = {{0, 0, 0}, {0, 10, 0}};
  const Vector3 body[] = {{1, 1, 0}, {0, 5, 0}, {1, 10, 0}, {0, 4, 0}};
  seg.Splines().AppendSpline(spine);
  seg.Splines().AppendSpline(body);
  seg.Renumber();
  seg.RebuildWorkingCopy();
  return seg;
}

TEST(SpineTest, RestAndBinding) {
  Segment seg = Spined();
  Spine spine = AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first->next);
  EXPECT_EQ(spine.firstNumber, 1);
  ASSERT_EQ(spine.points.size(), 2u);
  EXPECT_EQ(spine.binding.at(4), 0);  // (0, 5, 0) lies between: the earlier point
  EXPECT_EQ(spine.binding.at(5), 1);  // (1, 10, 0) is nearer the second point
  EXPECT_EQ(spine.binding.at(3), 0);
  // The binding is by index (0 or 1).
  ApplySpine(spine, seg.working, 7);
  seg.working.ForEachPoint([&](ControlPoint& p) {
    EXPECT_TRUE(VectorNear(p.position, seg.Splines().FindByNumber(p.number)->position, 1e-6f));
  });
  EXPECT_EQ(NearestSpinePoint(spine, {0, 5, 0}), 0);
  EXPECT_EQ(NearestSpinePoint(spine, {0, 6, 0}), 1);
}

TEST(SpineTest, RotationOnTheFirstPointTurnsTheChain) {
  Segment seg = Spined();
  Spine spine = AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first);
  ASSERT_TRUE(SetSpineKey(spine, 0, 8, 5, 90));  // Z Rotate: the first angle
  ApplySpine(spine, seg.working, 5);
  // Rx(−90) turns (x, y, z) into (x, z, −y) about the first point.
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(2)->position, {0, 0, -10}, 1e-5f));
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(5)->position, {1, 0, -10}, 1e-5f));
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(3)->position, {1, 0, -1}, 1e-5f));
  // Tangents turn with their points.
  const ControlPoint* rest = seg.Splines().FindByNumber(5);
  const ControlPoint* moved = seg.working.FindByNumber(5);
  EXPECT_TRUE(VectorNear(moved->outTangent,
                         {rest->outTangent.x, rest->outTangent.z, -rest->outTangent.y}, 1e-5f));
}

// A figure of one spined segment (its spine bound, no keys yet) with a
// ghost child 11 units up, one past the second spine point.
struct SpinedWithChild {
  SpinedWithChild() {
    const int root = figure.AddSegment(kNoNode, "/body.seg");
    const int child = figure.AddGhost(root);
    figure.nodes[static_cast<std::size_t>(child)].position = {0, 11, 0};
    figure.nodes[0].segment = std::make_shared<Segment>(Spined());
    ActionEntry entry;
    entry.segmentPath = "/body.seg";
    entry.spine = std::make_unique<Spine>(
        AssignSpine(figure.nodes[0].segment->Splines(),
                    *figure.nodes[0].segment->Splines().Splines()[0].first));
    action.entries.push_back(std::move(entry));
  }
  Figure figure;
  Action action;
};

TEST(SpineTest, ChildrenHangFromTheNearestSpinePoint) {
  SpinedWithChild spined;
  Figure& figure = spined.figure;
  Action& action = spined.action;
  ASSERT_TRUE(SetSpineKey(*action.entries[0].spine, 0, 8, 5, 90));
  DeformFigure(figure, action, 5);
  PoseFigure(figure, Transform::Identity(), {1, 1, 1});
  // The child's pivot, one unit past the second spine point, turns with it.
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), {0, 0, -11}, 1e-5f));
  EXPECT_EQ(CheckSpinePoint(nullptr, 0).message, "No Spine Selected.");
  EXPECT_EQ(CheckSpinePoint(action.entries[0].spine.get(), 5).message, "No Spine Point Selected!");
  EXPECT_TRUE(CheckSpinePoint(action.entries[0].spine.get(), 1).Ok());
}

// Catches: a child hung from the first spine point (or the last) rather
// than the one nearest it; with the turn on the first point every spine
// point carries the child alike, so the turn here is on the second.
TEST(SpineTest, AChildNearestTheSecondSpinePointHangsFromIt) {
  SpinedWithChild spined;
  Figure& figure = spined.figure;
  Action& action = spined.action;
  // Z Rotate on the second point.
  ASSERT_TRUE(SetSpineKey(*action.entries[0].spine, 1, 8, 5, 90));
  DeformFigure(figure, action, 5);
  PoseFigure(figure, Transform::Identity(), {1, 1, 1});
  // Rx(−90) about (0, 10, 0) takes the offset (0, 1, 0) to (0, 0, −1).
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), {0, 10, -1}, 1e-5f));
  EXPECT_TRUE(MatrixNear(figure.nodes[1].frameTransform.Linear(), Rx(-90), 1e-6f));
  // A child nearer the first point stays where it rests.
  figure.nodes[1].position = {0, 4, 0};
  PoseFigure(figure, Transform::Identity(), {1, 1, 1});
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), {0, 4, 0}, 1e-6f));
}

// Catches: the turns of two spine points composed in the wrong order (the
// later point's turn must act first, inside the earlier one's).
TEST(SpineTest, RotationsOnTwoPointsComposeInChainOrder) {
  Segment seg = Spined();
  Spine spine = AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first);
  ASSERT_TRUE(SetSpineKey(spine, 0, 8, 4, 90));  // Z Rotate: Rx(−90) on the first
  ASSERT_TRUE(SetSpineKey(spine, 1, 6, 4, 90));  // X Rotate: Ry(−90) on the second
  ApplySpine(spine, seg.working, 4);
  // Point 5 (1, 10, 0) follows the second spine point, 1 along x from it:
  // Rx(−90)·(Ry(−90)·(1, 0, 0) + (0, 10, 0)) = Rx(−90)·(0, 10, 1) = (0, 1, −10).
  // Composed the other way, Ry(−90)·Rx(−90), it would land at (0, 10, 1).
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(5)->position, {0, 1, -10}, 1e-5f));
  EXPECT_TRUE(VectorNear(spine.points[1].transform.ApplyToPoint({1, 0, 0}), {0, 1, -10}, 1e-5f));
  EXPECT_TRUE(MatrixNear(spine.points[1].transform.Linear(), Rx(-90) * Ry(-90), 1e-6f));
  // The second spine point itself and a point of the first are only turned
  // by the first.
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(2)->position, {0, 0, -10}, 1e-5f));
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(4)->position, {0, 0, -5}, 1e-5f));
  // Tangents turn with their spine point.
  const ControlPoint* rest = seg.Splines().FindByNumber(5);
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(5)->inTangent,
                         Rx(-90) * (Ry(-90) * rest->inTangent), 1e-5f));
}

// Catches: Insert and Delete Frames moving only the skeletal keys, leaving
// muscle and spine keys at their old frames.
TEST(MuscleSpineTest, InsertAndDeleteFramesMoveMuscleAndSpineKeys) {
  Figure figure;
  figure.AddSegment(kNoNode, "/body.seg");
  const Segment seg = Spined();
  Action action;
  ActionEntry entry;
  entry.segmentPath = "/body.seg";
  entry.spine =
      std::make_unique<Spine>(AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first));
  for (float f : {10.0f, 22.0f, 30.0f}) {
    ASSERT_TRUE(SetMuscleKey(entry.muscle, *seg.Splines().FindByNumber(3), 0, f, f));
    ASSERT_TRUE(SetMuscleKey(entry.muscle, *seg.Splines().FindByNumber(3), 5, f, f));
    ASSERT_TRUE(SetSpineKey(*entry.spine, 1, 7, f, f));
  }
  action.entries.push_back(std::move(entry));
  auto frames = [](const ChannelSet& set, int channel) {
    std::vector<float> xs;
    for (const ControlPoint* k = set.channels[static_cast<std::size_t>(channel)].keys; k;
         k = k->next) {
      xs.push_back(k->position.x);
    }
    return xs;
  };
  const ActionEntry& e = action.entries[0];
  // Deleting frames 21..25 drops the key at 22 and moves 30 (x 29) to x 24.
  DeleteFrames(action, figure, 20, 5);
  EXPECT_EQ(frames(*e.muscle[0].motion, 0), (std::vector<float>{0, 9, 24}));
  EXPECT_EQ(frames(*e.muscle[0].bias, 2), (std::vector<float>{0, 9, 24}));
  EXPECT_EQ(frames(*e.spine->points[1].channels, 7), (std::vector<float>{0, 9, 24}));
  // Inserting two frames after frame 1 moves every later key by two.
  InsertFrames(action, figure, 1, 2);
  EXPECT_EQ(frames(*e.muscle[0].motion, 0), (std::vector<float>{0, 11, 26}));
  EXPECT_EQ(frames(*e.muscle[0].bias, 2), (std::vector<float>{0, 11, 26}));
  EXPECT_EQ(frames(*e.spine->points[1].channels, 7), (std::vector<float>{0, 11, 26}));
}

TEST(SpineTest, ScaleStretchesTheChain) {
  Segment seg = Spined();
  Spine spine = AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first);
  ASSERT_TRUE(SetSpineKey(spine, 0, 4, 3, 200));  // Y Scale
  ApplySpine(spine, seg.working, 3);
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(2)->position, {0, 20, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(5)->position, {1, 20, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(4)->position, {0, 10, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(seg.working.FindByNumber(6)->position, {0, 8, 0}, 1e-5f));
}

TEST(MuscleSpineFileTest, FilesTravelWithTheAction) {
  TempDir dir;
  SegmentRegistry registry;
  // A one-node figure whose segment has a spine spline and a stacked point.
  Segment seg = Spined();
  seg.path = (dir / "models" / "body.seg").string();
  seg.MarkModified(kSegmentSplinesChanged);
  ASSERT_TRUE(SaveSegment(seg).Ok());
  Figure figure;
  figure.path = (dir / "body.fig").string();
  figure.AddSegment(kNoNode, seg.path);
  ASSERT_EQ(SaveFigure(figure).failures.size(), 0u);
  Result<Figure> opened = OpenFigure(figure.path, registry);
  ASSERT_TRUE(opened) << opened.failure().detail;
  Action action;
  action.path = (dir / "walk.act").string();
  ActionEntry entry;
  entry.segmentPath = seg.path;
  ASSERT_TRUE(
      SetMuscleKey(entry.muscle, *opened->nodes[0].segment->Splines().FindByNumber(3), 0, 4, 2.5f));
  entry.spine =
      std::make_unique<Spine>(AssignSpine(opened->nodes[0].segment->Splines(),
                                          *opened->nodes[0].segment->Splines().Splines()[0].first));
  ASSERT_TRUE(SetSpineKey(*entry.spine, 1, 0, 6, 3.0f));
  action.entries.push_back(std::move(entry));
  ASSERT_EQ(opened->nodes[0].name, seg.path);
  ASSERT_EQ(WriteAction(action, action.path, &*opened), SaveStatus::kSaved);
  EXPECT_TRUE(std::filesystem::exists(dir / "models" / "muscle" / "walk.mus"));
  EXPECT_TRUE(std::filesystem::exists(dir / "models" / "spine" / "walk.spi"));
  EXPECT_NE(testing::ReadFile(dir / "walk.act").find("models/muscle/walk.mus"), std::string::npos)
      << testing::ReadFile(dir / "walk.act");

  Result<Action> back = ReadAction(action.path, &*opened);
  ASSERT_TRUE(back) << back.failure().detail;
  ASSERT_EQ(back->entries.size(), 1u);
  const ActionEntry& e = back->entries[0];
  ASSERT_EQ(e.muscle.size(), 1u);
  EXPECT_EQ(EvaluateChannel(*e.muscle[0].motion, 0, 4), 2.5f);
  ASSERT_NE(e.spine, nullptr);
  EXPECT_EQ(EvaluateChannel(*e.spine->points[1].channels, 0, 6), 3.0f);
  // Deforming the figure applies both.
  back->Bind(*opened);
  DeformFigure(*opened, *back, 6);
  const ControlPoint* p3 = opened->nodes[0].segment->working.FindByNumber(3);
  EXPECT_GT(p3->position.x, 1.0f);
}

TEST(MuscleSpineFileTest, SpineOfAVanishedSplineIsDropped) {
  TempDir dir;
  Segment seg = Spined();
  Spine spine = AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first);
  SetSpineKey(spine, 0, 1, 3, 2.0f);
  ASSERT_EQ(WriteSpine(spine, 30, 10, (dir / "a.spi").string()), SaveStatus::kSaved);
  Result<Spine> fine = ReadSpine((dir / "a.spi").string(), seg.Splines());
  ASSERT_TRUE(fine) << fine.failure().detail;
  EXPECT_EQ(fine->points.size(), 2u);
  Segment other;
  const Vector3 pts[] = {{0, 0, 0}, {1, 0, 0}};
  other.Splines().AppendSpline(pts);
  for (ControlPoint* p = other.Splines().Splines()[0].first; p; p = p->next) {
    p->number += 100;
  }
  EXPECT_FALSE(ReadSpine((dir / "a.spi").string(), other.Splines()));
}

TEST(MuscleSpineFileTest, FrameFiles) {
  TempDir dir;
  Segment seg = Stacked();
  MuscleRecords records;
  SetMuscleKey(records, *seg.Splines().FindByNumber(2), 1, 5, 4.0f);
  SetMuscleKey(records, *seg.Splines().FindByNumber(5), 3, 5, 30.0f);
  ASSERT_EQ(WriteMuscleFrame(records, 5, (dir / "a.muf").string()), SaveStatus::kSaved);
  MuscleRecords fresh;
  ASSERT_TRUE(ReadMuscleFrame(fresh, seg.Splines(), 9, (dir / "a.muf").string()));
  ASSERT_EQ(fresh.size(), 2u);
  EXPECT_EQ(EvaluateChannel(*fresh[0].motion, 1, 9), 4.0f);
  EXPECT_EQ(EvaluateChannel(*fresh[1].bias, 0, 9), 30.0f);

  Segment body = Spined();
  Spine spine = AssignSpine(body.Splines(), *body.Splines().Splines()[0].first);
  SetSpineKey(spine, 1, 7, 2, 45.0f);
  ASSERT_EQ(WriteSpineFrame(spine, 2, 10, (dir / "a.spf").string()), SaveStatus::kSaved);
  Spine again = AssignSpine(body.Splines(), *body.Splines().Splines()[0].first);
  ASSERT_TRUE(ReadSpineFrame(again, 8, (dir / "a.spf").string()));
  EXPECT_EQ(again.points[0].channels, nullptr);
  EXPECT_EQ(EvaluateChannel(*again.points[1].channels, 7, 8), 45.0f);
}

}  // namespace
}  // namespace zentrope

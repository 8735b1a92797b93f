// Things riding paths: arc lengths, even travel, Ease, the ends of a path,
// and the facing rotation.
#include <gtest/gtest.h>

#include <cmath>

#include "chor/path_motion.h"
#include "core/spline.h"
#include "scene_builder.h"
#include "support/expect_vector.h"

namespace zentrope {
namespace {

using testing::AddPathThrough;
using testing::VectorNear;

std::unique_ptr<ChannelSet> Rider(const std::string& path) {
  std::unique_ptr<ChannelSet> set = CreateTargetSet(kCameraTargetName);
  set->referenceName = path;
  return set;
}

TEST(PathMotionTest, StraightPathLengthAndPoints) {
  Choreography chor = NewChoreography();
  const Path& path = AddPathThrough(chor, "p", {{0, 0, 0}, {100, 0, 0}});
  EXPECT_NEAR(PathLength(path), 100.0f, 1e-3f);
  for (float s : {0.0f, 12.5f, 50.0f, 99.0f}) {
    const PathPosition at = PointAtDistance(path, s);
    EXPECT_TRUE(VectorNear(at.position, {s, 0, 0}, 0.05f)) << s;
    EXPECT_LT(at.direction.x, 0.0f) << "directions point back towards the start";
    EXPECT_EQ(at.distance, s);
  }
  // Beyond the end: the last point and its outTangent.
  const PathPosition beyond = PointAtDistance(path, 150.0f);
  EXPECT_EQ(beyond.position, (Vector3{100, 0, 0}));
  EXPECT_EQ(beyond.direction, path.first->next->outTangent);
}

TEST(PathMotionTest, WithoutEaseKeysAThingTravelsEvenly) {
  Choreography chor = NewChoreography();
  chor.scene.length = 21;
  const Path& path = AddPathThrough(chor, "p", {{0, 0, 0}, {60, 0, 40}, {100, 30, 0}, {150, 0, 0}});
  const auto set = Rider("p");
  const float length = PathLength(path);
  EXPECT_EQ(position_on_path(chor, set.get(), 1).position, path.first->position);
  // The last frame and after: the path's end.
  const Vector3 end{150, 0, 0};
  EXPECT_EQ(position_on_path(chor, set.get(), 21).position, end);
  EXPECT_EQ(position_on_path(chor, set.get(), 30).position, end);
  // Equal steps of distance along the curve: the chord between two frames
  // is never longer than the step and, the path bending gently, not much
  // shorter.
  const float step = length / 20.0f;
  Vector3 previous = position_on_path(chor, set.get(), 1).position;
  for (int f = 2; f <= 21; ++f) {
    const PathPosition at = position_on_path(chor, set.get(), static_cast<float>(f));
    EXPECT_FLOAT_EQ(at.distance, static_cast<float>(f - 1) * step);
    const float chord = Length(at.position - previous);
    EXPECT_LE(chord, step * 1.001f) << f;
    EXPECT_GE(chord, step * 0.97f) << f;
    previous = at.position;
  }
}

TEST(PathMotionTest, EaseKeysPlaceByPercent) {
  Choreography chor = NewChoreography();
  const Path& path = AddPathThrough(chor, "p", {{0, 0, 0}, {0, 0, -80}});
  auto set = Rider("p");
  SetKey(*set, kEase, 1, 25);
  EXPECT_FLOAT_EQ(ease_fraction(set.get(), 17, chor.scene.length), 0.25f);
  const PathPosition at = position_on_path(chor, set.get(), 17);
  EXPECT_FLOAT_EQ(at.distance, 0.25f * PathLength(path));
  EXPECT_TRUE(VectorNear(at.position, {0, 0, -20}, 0.05f));
  EXPECT_GT(at.direction.z, 0.0f);
}

TEST(PathMotionTest, UnboundAndOnePointPaths) {
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "dot", {{3, 4, 5}});
  const PathPosition none = position_on_path(chor, nullptr, 5);
  EXPECT_EQ(none.distance, 0.0f);
  auto unbound = Rider("");
  const PathPosition free = position_on_path(chor, unbound.get(), 5);
  EXPECT_EQ(free.position, (Vector3{0, 0, 0}));
  EXPECT_EQ(free.direction, (Vector3{0, 0, -1}));
  auto missing = Rider("no such path");
  EXPECT_EQ(position_on_path(chor, missing.get(), 5).position, (Vector3{0, 0, 0}));
  auto dot = Rider("dot");
  const PathPosition at = position_on_path(chor, dot.get(), 5);
  EXPECT_EQ(at.position, (Vector3{3, 4, 5}));
  EXPECT_EQ(at.direction, (Vector3{0, 0, -1}));
}

TEST(PathMotionTest, OneFrameScenesStandAtTheStart) {
  EXPECT_EQ(ease_fraction(nullptr, 1, 1), 0.0f);
  EXPECT_EQ(ease_fraction(nullptr, 2, 1), 1.0f);
  EXPECT_EQ(ease_fraction(nullptr, 1, 0), 0.0f);
}

TEST(PathMotionTest, AClosedPathEndsAtItsClosingPoint) {
  Choreography chor = NewChoreography();
  Path& path = AddPathThrough(chor, "ring", {{0, 0, 0}, {10, 0, 0}, {10, 0, 10}});
  ControlPoint* last = path.first->next->next;
  const float open = PathLength(path);
  last->Set(kPointLoopClosing, true);
  last->next = path.first;
  path.first->prev = last;
  ComputeSplineTangents(path.first);
  const float closed = PathLength(path);
  // The closing segment back to the first point is not travelled; the
  // tangents at the ends change, so the length does a little.
  EXPECT_NEAR(closed, open, 0.1f * open);
  EXPECT_LT(closed, 25.0f);
  EXPECT_EQ(PointAtDistance(path, closed + 1).position, last->position);
}

TEST(PathMotionTest, PercentAtAPathPoint) {
  Choreography chor = NewChoreography();
  const Path& path = AddPathThrough(chor, "p", {{0, 0, 0}, {10, 0, 0}, {30, 0, 0}});
  EXPECT_EQ(PathPercentAtPoint(path, 1), 0.0f);
  EXPECT_NEAR(PathPercentAtPoint(path, 2), 100.0f * SegmentLength(*path.first) / PathLength(path),
              1e-4f);
  EXPECT_NEAR(PathPercentAtPoint(path, 3), 100.0f, 1e-4f);
  EXPECT_EQ(PathPercentAtPoint(path, 4), -1.0f);
}

TEST(PathMotionTest, FacingRotationTurnsBackOntoTheDirection) {
  for (const Vector3& back : {Vector3{0, 0, 1}, Vector3{-1, 0, 0}, Vector3{3, 4, -5},
                              Vector3{0, -2, 0.5f}, Vector3{1, 1, 1}}) {
    const Matrix3 r = FacingRotation(back);
    EXPECT_TRUE(VectorNear(r * Vector3{0, 0, 1}, Normalized(back), 1e-5f)) << back.x;
    // Heading and pitch only: the side axis stays level.
    EXPECT_NEAR((r * Vector3{1, 0, 0}).y, 0.0f, 1e-6f);
  }
  EXPECT_EQ(FacingRotation({}), Matrix3::Identity());
}

}  // namespace
}  // namespace zentrope

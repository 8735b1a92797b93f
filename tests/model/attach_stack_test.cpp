// Attach stacks and hooks.
#include <gtest/gtest.h>

#include "core/spline.h"
#include "model/attach_stack.h"
#include "model/spline_set.h"
#include "support/expect_vector.h"

namespace zentrope {
namespace {

using testing::VectorNear;

void Stack(ControlPoint* below, ControlPoint* above) {
  below->attachedAbove = above;
  above->attachedTo = below;
}

TEST(AttachStackTest, StackedPointFollowsTheBottom) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  const Vector3 b[] = {{5, 5, 5}, {1, 2, 0}};
  ControlPoint* sa = set.AppendSpline(a);
  ControlPoint* sb = set.AppendSpline(b);
  ControlPoint* bottom = sa->next;
  Stack(bottom, sb);
  set.PlaceStacksAndTangents();
  EXPECT_EQ(sb->position, bottom->position);

  bottom->position = {1, -3, 2};
  PlaceStack(*bottom);
  EXPECT_EQ(sb->position, (Vector3{1, -3, 2}));
  EXPECT_EQ(StackOf(sb).size(), 2u);
  EXPECT_EQ(StackBottom(sb), bottom);
}

TEST(AttachStackTest, HookStaysOnItsCurveWhenThePointBelowMoves) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 0}, {4, 0, 0}, {8, 2, 0}};
  const Vector3 b[] = {{0, 0, 0}, {2, 5, 0}};
  ControlPoint* sa = set.AppendSpline(a);
  ControlPoint* hookSpline = set.AppendSpline(b);
  ControlPoint* hook = hookSpline;
  hook->flags |= kPointHook;
  hook->hookParameter = 0.25f;
  Stack(sa, hook);
  set.PlaceStacksAndTangents();
  EXPECT_TRUE(VectorNear(hook->position, SegmentPoint(*sa, 0.25f), 0));

  // Move the point under the hook; the edit rule re-places the hook.
  sa->position = {1, -2, 0};
  RecomputeAfterEdit(*sa);
  EXPECT_EQ(hook->hookParameter, 0.25f);
  EXPECT_TRUE(VectorNear(hook->position, SegmentPoint(*sa, 0.25f), 0));
  // Moving the far end of the segment also moves the hook.
  sa->next->position = {4, 3, 1};
  RecomputeAfterEdit(*sa->next);
  EXPECT_TRUE(VectorNear(hook->position, SegmentPoint(*sa, 0.25f), 0));
  // The hook's own spline follows it.
  EXPECT_TRUE(VectorNear(hook->inTangent, (hook->position - hook->next->position) * 0.5f, 1e-6f));
}

TEST(AttachStackTest, HookSplitTangentsDescribeBothHalves) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 0}, {3, 3, 0}, {6, 0, 1}};
  const Vector3 b[] = {{0, 0, 0}, {0, 5, 0}};
  ControlPoint* sa = set.AppendSpline(a);
  ControlPoint* hook = set.AppendSpline(b);
  hook->flags |= kPointHook;
  hook->hookParameter = 0.4f;
  Stack(sa->next, hook);
  set.PlaceStacksAndTangents();
  const ControlPoint& A = *sa->next;
  const ControlPoint& B = *A.next;
  // The first half (A to hook) as a segment whose end tangent is
  // hookTangents[0]; sample it against the whole curve.
  ControlPoint startHalf = A, endHalf;
  startHalf.inTangent = A.inTangent * 0.4f;
  endHalf.position = hook->position;
  endHalf.outTangent = hook->hookTangents[0];
  startHalf.next = &endHalf;
  ControlPoint h2 = endHalf, endB = B;
  h2.inTangent = hook->hookTangents[1];
  endB.outTangent = B.outTangent * 0.6f;
  h2.next = &endB;
  for (float u : {0.0f, 0.3f, 0.5f, 0.8f, 1.0f}) {
    EXPECT_TRUE(VectorNear(SegmentPoint(startHalf, u), SegmentPoint(A, 0.4f * u), 1e-5f)) << u;
    EXPECT_TRUE(VectorNear(SegmentPoint(h2, u), SegmentPoint(A, 0.4f + 0.6f * u), 1e-5f)) << u;
  }
}

TEST(AttachStackTest, HookWalksPastOtherHooksAndEndPoints) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 0}, {2, 0, 0}};
  const Vector3 b[] = {{9, 9, 9}, {0, 3, 0}};
  const Vector3 c[] = {{9, 9, 9}, {0, 0, 3}};
  ControlPoint* bottom = set.AppendSpline(a);
  ControlPoint* h1 = set.AppendSpline(b);
  ControlPoint* h2 = set.AppendSpline(c);
  h1->flags |= kPointHook;
  h2->flags |= kPointHook;
  Stack(bottom, h1);
  Stack(h1, h2);
  EXPECT_EQ(SplinePointUnderHook(*h2), bottom);
  // The last point of a spline has no next: nothing to lie on.
  ControlPoint* end = bottom->next;
  ControlPoint lone;
  lone.flags |= kPointHook;
  lone.attachedTo = end;
  lone.position = {7, 7, 7};
  EXPECT_EQ(SplinePointUnderHook(lone), nullptr);
  EXPECT_FALSE(PlaceHook(lone));
  EXPECT_EQ(lone.position, (Vector3{7, 7, 7}));
}

}  // namespace
}  // namespace zentrope

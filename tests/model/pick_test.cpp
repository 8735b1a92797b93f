// Nearest-point picking.
#include <gtest/gtest.h>

#include "model/pick.h"

namespace zentrope {
namespace {

View TestView() {
  View v;
  v.clip = {0, 0, 200, 200};
  v.cx = 100;
  v.cy = 100;
  v.zoom = 10.0f;
  return v;
}

TEST(PickTest, NearestScreenPointWins) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 5}, {3, 0, 5}};
  const Vector3 b[] = {{-3, 4, 5}, {1, 1, 5}};
  set.AppendSpline(a);
  ControlPoint* second = set.AppendSpline(b);
  // (1,1) projects to (110, 90).
  const auto hit = PickNearestPoint(TestView(), set, {113, 94});
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->point, second->next);
  EXPECT_EQ(hit->spline, 1u);
  EXPECT_FLOAT_EQ(hit->distance, 5.0f);
}

TEST(PickTest, TieGoesToTheNearerDepthAndExclusionsAreSkipped) {
  SplineSet set;
  const Vector3 far[] = {{1, 0, 9}, {8, 8, 9}};
  const Vector3 near[] = {{1, 0, 2}, {-8, 8, 2}};
  ControlPoint* farFirst = set.AppendSpline(far);
  ControlPoint* nearFirst = set.AppendSpline(near);
  auto hit = PickNearestPoint(TestView(), set, {110, 100});
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->point, nearFirst);
  hit = PickNearestPoint(TestView(), set, {110, 100}, nearFirst);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->point, farFirst);
  // Hidden points are not candidates.
  farFirst->flags |= kPointHidden;
  hit = PickNearestPoint(TestView(), set, {110, 100}, nearFirst);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->point, farFirst->next);
}

TEST(PickTest, PerspectiveSkipsPointsAtOrBeforeTheNearPlane) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 1}, {5, 5, 4}};
  ControlPoint* first = set.AppendSpline(a);
  View v = TestView();
  v.distance = 2.0f;
  const auto hit = PickNearestPoint(v, set, {100, 100});
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->point, first->next);
  EXPECT_FALSE(PickNearestPoint(v, SplineSet{}, {0, 0}));
}

TEST(PickTest, TopViewMeasureInWholeUnits) {
  SplineSet set;
  const Vector3 a[] = {{10.6f, 99, 0}, {0, -5, 10.4f}, {40000, 0, 0}};
  ControlPoint* first = set.AppendSpline(a);
  // Both measure 10 in whole units: the first stays.
  auto hit = PickNearestTopViewPoint(set, 0, 0);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->point, first);
  EXPECT_EQ(hit->distance, 10.0f);
  // Nothing within 32000 units.
  SplineSet far;
  const Vector3 b[] = {{32000, 0, 0}, {0, 0, -40000}};
  far.AppendSpline(b);
  EXPECT_FALSE(PickNearestTopViewPoint(far, 0, 0));
}

}  // namespace
}  // namespace zentrope

// Editing the spline list: creating, inserting, unlinking, renumbering.
#include <gtest/gtest.h>

#include <vector>

#include "core/spline.h"
#include "model/attach_stack.h"
#include "model/spline_set.h"
#include "support/expect_vector.h"

namespace zentrope {
namespace {

using testing::VectorNear;

std::vector<ControlPoint*> Points(ControlPoint* first) {
  std::vector<ControlPoint*> out;
  for (ControlPoint* p = first; p; p = NextInTraversal(p)) {
    out.push_back(p);
  }
  return out;
}

// Checks prev/next symmetry and the loop rule of one spline.
void ExpectWellLinked(ControlPoint* first) {
  const std::vector<ControlPoint*> pts = Points(first);
  ASSERT_FALSE(pts.empty());
  for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
    EXPECT_EQ(pts[i]->next, pts[i + 1]);
    EXPECT_EQ(pts[i + 1]->prev, pts[i]);
    EXPECT_FALSE(pts[i]->ClosesLoop());
  }
  ControlPoint* last = pts.back();
  if (last->ClosesLoop()) {
    EXPECT_EQ(last->next, first);
    EXPECT_EQ(first->prev, last);
  } else {
    EXPECT_EQ(last->next, nullptr);
    EXPECT_EQ(first->prev, nullptr);
  }
}

TEST(SplineSetTest, CreateAfterCopiesBiasAndTakesOverTheLoop) {
  SplineSet set;
  const Vector3 pos[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  ControlPoint* first = set.AppendSpline(pos, /*closed=*/true);
  ControlPoint* last = first->next->next;
  last->flags &= static_cast<std::uint16_t>(~kPointSmooth);
  last->SetInBias({10, 20, 2});
  last->SetOutBias({-5, 0, 0.5f});
  ControlPoint* n = set.CreatePointAfter(last);
  EXPECT_EQ(n->number, kPlaceholderNumber);
  EXPECT_FALSE(n->Has(kPointSmooth));
  EXPECT_EQ(n->InBias(), (Bias{10, 20, 2}));
  EXPECT_EQ(n->OutBias(), (Bias{-5, 0, 0.5f}));
  EXPECT_TRUE(n->ClosesLoop());
  EXPECT_FALSE(last->ClosesLoop());
  EXPECT_EQ(first->prev, n);
  ExpectWellLinked(first);
  EXPECT_EQ(Points(first).size(), 4u);
}

TEST(SplineSetTest, CreateFromNothingStartsASpline) {
  SplineSet set;
  ControlPoint* p = set.CreatePointAfter(nullptr);
  ASSERT_EQ(set.Splines().size(), 1u);
  EXPECT_EQ(set.Splines()[0].first, p);
  EXPECT_TRUE(p->Has(kPointSmooth));
  EXPECT_EQ(p->InBias(), kNeutralBias);
  ControlPoint* q = set.CreatePointAfter(p);
  EXPECT_EQ(p->next, q);
  EXPECT_EQ(set.Splines().size(), 1u);
}

TEST(SplineSetTest, EditedPointRecomputesItsNeighbours) {
  SplineSet set;
  const Vector3 pos[] = {{0, 0, 0}, {2, 0, 0}};
  ControlPoint* first = set.AppendSpline(pos);
  ControlPoint* n = set.CreatePointAfter(first);
  EXPECT_EQ(first->next, n);
  n->position = {1, 1, 0};
  RecomputeAfterEdit(*n);
  // The first point now sees n as its next neighbour.
  EXPECT_TRUE(VectorNear(first->inTangent, {-0.5f, -0.5f, 0}, 1e-6f));
  // And the last point sees n as its previous one.
  EXPECT_TRUE(VectorNear(first->next->next->outTangent, {-0.5f, 0.5f, 0}, 1e-6f));
}

TEST(SplineSetTest, InsertBeforeFirstPoint) {
  SplineSet set;
  const Vector3 pos[] = {{0, 0, 0}, {1, 0, 0}};
  ControlPoint* q = set.AppendSpline(pos);
  q->SetOutBias({1, 2, 3});
  ControlPoint* n = set.InsertPointBefore(q);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(set.Splines()[0].first, n);
  EXPECT_EQ(n->next, q);
  EXPECT_EQ(n->OutBias(), (Bias{1, 2, 3}));
  ExpectWellLinked(n);
  EXPECT_EQ(set.InsertPointBefore(q), nullptr);  // no longer first
}

TEST(SplineSetTest, UnlinkingTheLoopClosingPointMovesTheFlag) {
  SplineSet set;
  const Vector3 pos[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  ControlPoint* first = set.AppendSpline(pos, true);
  ControlPoint* last = LastPoint(first);
  ControlPoint* before = last->prev;
  set.Unlink(last);
  EXPECT_TRUE(before->ClosesLoop());
  EXPECT_EQ(before->next, first);
  EXPECT_EQ(first->prev, before);
  ExpectWellLinked(first);
  EXPECT_EQ(Points(first).size(), 3u);
  EXPECT_EQ(last->next, nullptr);
  EXPECT_FALSE(last->ClosesLoop());
}

TEST(SplineSetTest, ClosedSplineShrinkingToTwoPointsOpens) {
  SplineSet set;
  const Vector3 pos[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  ControlPoint* first = set.AppendSpline(pos, true);
  ControlPoint* middle = first->next;
  set.Unlink(middle);
  const std::vector<ControlPoint*> pts = Points(first);
  ASSERT_EQ(pts.size(), 2u);
  EXPECT_FALSE(pts[1]->ClosesLoop());
  EXPECT_EQ(pts[1]->next, nullptr);
  EXPECT_EQ(first->prev, nullptr);
  // The tangents are those of a straight two-point spline now.
  EXPECT_TRUE(VectorNear(first->inTangent, (first->position - pts[1]->position) * 0.5f, 1e-6f));
}

TEST(SplineSetTest, UnlinkingTheFirstPointOfALoop) {
  SplineSet set;
  const Vector3 pos[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  ControlPoint* first = set.AppendSpline(pos, true);
  ControlPoint* second = first->next;
  set.Unlink(first);
  EXPECT_EQ(set.Splines()[0].first, second);
  ExpectWellLinked(second);
  EXPECT_EQ(Points(second).size(), 3u);
  EXPECT_TRUE(LastPoint(second)->ClosesLoop());
}

TEST(SplineSetTest, UnlinkJoinsTheAttachStack) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 0}, {1, 0, 0}};
  const Vector3 b[] = {{0, 0, 0}, {0, 1, 0}};
  const Vector3 c[] = {{0, 0, 0}, {0, 0, 1}};
  ControlPoint* bottom = set.AppendSpline(a);
  ControlPoint* mid = set.AppendSpline(b);
  ControlPoint* top = set.AppendSpline(c);
  bottom->attachedAbove = mid;
  mid->attachedTo = bottom;
  mid->attachedAbove = top;
  top->attachedTo = mid;
  set.Unlink(mid);
  EXPECT_EQ(bottom->attachedAbove, top);
  EXPECT_EQ(top->attachedTo, bottom);
  set.Unlink(bottom);
  EXPECT_EQ(top->attachedTo, nullptr);  // the point above becomes the bottom
}

TEST(SplineSetTest, PruneRemovesShortSplines) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 0}, {1, 0, 0}};
  const Vector3 b[] = {{0, 0, 0}, {0, 1, 0}, {0, 2, 0}};
  ControlPoint* s1 = set.AppendSpline(a);
  set.AppendSpline(b);
  set.Unlink(s1);
  set.Arena().Release(s1);
  set.PruneSplines();
  EXPECT_EQ(set.Splines().size(), 1u);
  EXPECT_EQ(set.PointCount(), 3u);
  EXPECT_EQ(set.Arena().LiveCount(), 3u);
}

TEST(SplineSetTest, RenumberGivesNewPointsTheNextNumbers) {
  SplineSet set;
  std::vector<Vector3> pos(5);
  ControlPoint* a = set.AppendSpline(pos);
  ControlPoint* b = set.AppendSpline(pos);
  std::int32_t n = 1;
  for (ControlPoint* p : Points(a)) {
    p->number = n++;
  }
  for (ControlPoint* p : Points(b)) {
    p->number = n++;
  }
  std::int32_t highest = 10;
  ControlPoint* x = set.CreatePointAfter(a);  // placeholder, traversed first
  ControlPoint* y = set.CreatePointAfter(LastPoint(b));
  set.Renumber(highest);
  EXPECT_EQ(x->number, 11);
  EXPECT_EQ(y->number, 12);
  EXPECT_EQ(highest, 12);
  EXPECT_EQ(a->number, 1);
  EXPECT_EQ(set.FindByNumber(12), y);
  EXPECT_EQ(set.MaxNumber(), 12);
}

TEST(SplineSetTest, BoundsTranslateAndFind) {
  SplineSet set;
  EXPECT_EQ(set.BoundingBox(), Bounds{});
  const Vector3 a[] = {{-1, 2, 3}, {4, -5, 6}};
  const Vector3 b[] = {{0, 0, -7}, {1, 1, 1}};
  set.AppendSpline(a);
  ControlPoint* second = set.AppendSpline(b);
  EXPECT_EQ(set.BoundingBox(), (Bounds{{-1, -5, -7}, {4, 2, 6}}));
  set.Translate({1, 1, 1});
  EXPECT_EQ(set.BoundingBox(), (Bounds{{0, -4, -6}, {5, 3, 7}}));
  EXPECT_EQ(set.FindSpline(second->next), 1u);
  ControlPoint stray;
  EXPECT_FALSE(set.FindSpline(&stray).has_value());
}

TEST(SplineSetTest, DeepCopyRebuildsLinksAndDropsSelection) {
  SplineSet set;
  const Vector3 a[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  const Vector3 b[] = {{1, 0, 0}, {2, 0, 0}};
  ControlPoint* s1 = set.AppendSpline(a, true);
  ControlPoint* s2 = set.AppendSpline(b);
  s1->next->attachedAbove = s2;
  s2->attachedTo = s1->next;
  s1->flags |= kPointSelected;
  s1->number = 7;
  SplineSet copy = set.DeepCopy(true);
  ControlPoint* c1 = copy.Splines()[0].first;
  ControlPoint* c2 = copy.Splines()[1].first;
  EXPECT_NE(c1, s1);
  EXPECT_EQ(c1->number, 7);
  EXPECT_FALSE(c1->Has(kPointSelected));
  EXPECT_EQ(c2->attachedTo, c1->next);
  EXPECT_EQ(c1->next->attachedAbove, c2);
  ExpectWellLinked(c1);
  EXPECT_TRUE(LastPoint(c1)->ClosesLoop());
  // The copy is independent.
  c1->position = {9, 9, 9};
  EXPECT_EQ(s1->position, (Vector3{0, 0, 0}));
}

TEST(SplineSetTest, ArenaKeepsAddressesAcrossGrowth) {
  SplineSet set;
  std::vector<Vector3> pos(3);
  ControlPoint* first = set.AppendSpline(pos);
  for (int i = 0; i < 10000; ++i) {
    set.CreatePointAfter(nullptr);
  }
  EXPECT_EQ(set.Splines()[0].first, first);
  EXPECT_EQ(first->next->prev, first);
  SplineSet moved = std::move(set);
  EXPECT_EQ(moved.Splines()[0].first, first);
}

}  // namespace
}  // namespace zentrope

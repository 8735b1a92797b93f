// Segment editing commands: delete, break, groups, modified flags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/segment.h"

namespace zentrope {
namespace {

// Two splines: an open one of five points numbered 1..5 and a closed square
// numbered 6..9.
Segment MakeSegment() {
  Segment s;
  const Vector3 line[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
  const Vector3 square[] = {{0, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
  s.Splines().AppendSpline(line);
  s.Splines().AppendSpline(square, true);
  s.Renumber();
  s.SplinesEdited();
  s.ClearModified(0xffff);
  return s;
}

std::vector<std::int32_t> Numbers(ControlPoint* first) {
  std::vector<std::int32_t> out;
  for (ControlPoint* p = first; p; p = NextInTraversal(p)) {
    out.push_back(p->number);
  }
  return out;
}

TEST(SegmentTest, NewPointsAreNumberedInTraversalOrder) {
  Segment s = MakeSegment();
  EXPECT_EQ(s.highestNumber, 9);
  EXPECT_EQ(Numbers(s.Splines().Splines()[0].first), (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Numbers(s.Splines().Splines()[1].first), (std::vector<std::int32_t>{6, 7, 8, 9}));
}

TEST(SegmentTest, WorkingCopyIsDeepAndUnselected) {
  Segment s = MakeSegment();
  s.Splines().Splines()[0].first->flags |= kPointSelected;
  s.RebuildWorkingCopy();
  ControlPoint* w = s.working.Splines()[0].first;
  EXPECT_NE(w, s.Splines().Splines()[0].first);
  EXPECT_EQ(w->number, 1);
  EXPECT_FALSE(w->Has(kPointSelected));
  EXPECT_EQ(s.working.PointCount(), 9u);
}

TEST(SegmentTest, DeleteSelectedRemovesShortSplinesAndRecomputesHighest) {
  Segment s = MakeSegment();
  // Select 9 (the square's loop-closing point) and 2..5 of the line.
  s.Splines().ForEachPoint([](ControlPoint& p) {
    if (p.number >= 2 && p.number <= 5) {
      p.flags |= kPointSelected;
    }
    if (p.number == 9) {
      p.flags |= kPointSelected;
    }
  });
  EXPECT_TRUE(DeleteSelected(s, false, nullptr).Ok());
  // The line keeps a single point and goes; the square becomes a closed
  // triangle with 8 closing it.
  ASSERT_EQ(s.Splines().Splines().size(), 1u);
  ControlPoint* first = s.Splines().Splines()[0].first;
  EXPECT_EQ(Numbers(first), (std::vector<std::int32_t>{6, 7, 8}));
  EXPECT_TRUE(first->prev->ClosesLoop());
  EXPECT_EQ(first->prev->number, 8);
  EXPECT_EQ(s.highestNumber, 8);
  EXPECT_TRUE(s.IsModified(kSegmentSplinesChanged));
  EXPECT_TRUE(s.IsModified(kSegmentPatchesStale));
  EXPECT_EQ(s.working.PointCount(), 3u);
  EXPECT_EQ(s.Splines().Arena().LiveCount(), 3u);
  EXPECT_EQ(s.bounds.max, (Vector3{1, 2, 0}));
}

TEST(SegmentTest, DeleteWithSkinAsksFirst) {
  Segment s = MakeSegment();
  s.Splines().Splines()[0].first->flags |= kPointSelected;
  std::string asked;
  const EditOutcome declined = DeleteSelected(s, true, [&](std::string_view q) {
    asked = q;
    return false;
  });
  EXPECT_EQ(asked, "Skin Will Be Removed!");
  EXPECT_FALSE(declined.Ok());
  EXPECT_EQ(s.Splines().PointCount(), 9u);
  EXPECT_TRUE(DeleteSelected(s, true, [](std::string_view) { return true; }).Ok());
  EXPECT_EQ(s.Splines().PointCount(), 8u);
  EXPECT_EQ(DeleteSelected(s, false, nullptr).message, "None Selected");
}

TEST(SegmentTest, BreakNeedsRoomOnTheEditorsSide) {
  Segment s = MakeSegment();
  ControlPoint* p1 = s.Splines().Splines()[0].first;
  ControlPoint* p2 = p1->next;
  ControlPoint* p4 = p2->next->next;
  EXPECT_EQ(Break(s, nullptr, true).message, "No Control Point Selected");
  EXPECT_EQ(Break(s, p1, true).message, "Can't Break Here");   // no prev
  EXPECT_EQ(Break(s, p2, false).message, "Can't Break Here");  // no prev.prev
  EXPECT_EQ(Break(s, p4, true).message, "Can't Break Here");   // no next.next
  EXPECT_EQ(s.Splines().Splines().size(), 2u);

  ASSERT_TRUE(Break(s, p2, true).Ok());
  ASSERT_EQ(s.Splines().Splines().size(), 3u);
  EXPECT_EQ(Numbers(s.Splines().Splines()[0].first), (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(Numbers(s.Splines().Splines()[1].first), (std::vector<std::int32_t>{3, 4, 5}));
  EXPECT_TRUE(s.IsModified(kSegmentSplinesChanged));
}

TEST(SegmentTest, BreakingALoopOpensIt) {
  Segment s = MakeSegment();
  ControlPoint* p7 = s.Splines().FindByNumber(7);
  ASSERT_TRUE(Break(s, p7, false).Ok());  // cut between 6 and 7
  ASSERT_EQ(s.Splines().Splines().size(), 2u);
  ControlPoint* first = s.Splines().Splines()[1].first;
  EXPECT_EQ(Numbers(first), (std::vector<std::int32_t>{7, 8, 9, 6}));
  EXPECT_EQ(first->prev, nullptr);
  EXPECT_EQ(LastPoint(first)->next, nullptr);
  EXPECT_FALSE(LastPoint(first)->ClosesLoop());
}

TEST(SegmentTest, GroupCommands) {
  Segment s = MakeSegment();
  EXPECT_EQ(CreateGroup(s, "").message, "No Group Name");
  EXPECT_EQ(CreateGroup(s, "arm").message, "Nothing Grouped");
  s.Splines().FindByNumber(2)->flags |= kPointSelected;
  s.Splines().FindByNumber(8)->flags |= kPointSelected;
  ASSERT_TRUE(CreateGroup(s, "arm").Ok());
  EXPECT_TRUE(s.IsModified(kSegmentGroupsChanged));
  EXPECT_EQ(CreateGroup(s, "arm").message, "Group Name Already Exists.");
  const Group* g = s.FindGroup("arm");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->members, (std::vector<std::int32_t>{2, 8}));
  EXPECT_EQ(g->pivot, (Vector3{1, 1, 0}));

  s.Splines().ForEachPoint([](ControlPoint& p) { p.Set(kPointSelected, false); });
  s.Splines().FindByNumber(5)->flags |= kPointSelected;
  ASSERT_TRUE(SelectGroup(s, "arm").Ok());
  EXPECT_TRUE(s.Splines().FindByNumber(2)->Has(kPointSelected));
  EXPECT_TRUE(s.Splines().FindByNumber(8)->Has(kPointSelected));
  EXPECT_FALSE(s.Splines().FindByNumber(5)->Has(kPointSelected));
  ASSERT_TRUE(RemoveGroup(s, "arm").Ok());
  EXPECT_TRUE(s.groups.empty());
  EXPECT_FALSE(RemoveGroup(s, "arm").Ok());
}

}  // namespace
}  // namespace zentrope

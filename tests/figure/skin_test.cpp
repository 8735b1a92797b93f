// Skins: finding pairs, tangents across the joint, the skin file.
#include <gtest/gtest.h>

#include "core/spline.h"
#include "figure/pose.h"
#include "figure/skin.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::VectorNear;

std::shared_ptr<Segment> SegmentOf(std::initializer_list<std::vector<Vector3>> splines) {
  auto seg = std::make_shared<Segment>();
  for (const auto& s : splines) {
    seg->Splines().AppendSpline(s);
  }
  seg->Renumber();
  seg->RebuildWorkingCopy();
  return seg;
}

// A parent spline ending at the origin and a child spline starting at
// (0, gap, 0), with the child node placed at the origin.
Figure Joint(float gap) {
  Figure figure;
  const int root = figure.AddSegment(kNoNode, "/p.seg");
  const int child = figure.AddSegment(root, "/c.seg");
  figure.nodes[0].segment = SegmentOf({{{0, -8, 0}, {1, -4, 0}, {0, 0, 0}}});
  figure.nodes[static_cast<std::size_t>(child)].segment =
      SegmentOf({{{0, gap, 0}, {1, gap + 4, 1}, {0, gap + 8, 0}}});
  return figure;
}

TEST(SkinTest, FindsEndsWithinThreeUnits) {
  Figure near = Joint(2.9f);
  ASSERT_TRUE(FindSkin(near, 1).Ok());
  EXPECT_EQ(near.nodes[1].skins, (std::vector<SkinPair>{{3, 1}}));
  EXPECT_TRUE(near.flags & kFigureSkinChanged);
  EXPECT_EQ(FindSkin(near, 1).message, "Already Skinned");
  Figure far = Joint(3.1f);
  EXPECT_EQ(FindSkin(far, 1).message, "Can't Find Skin");
  EXPECT_TRUE(far.nodes[1].skins.empty());
  EXPECT_EQ(FindSkin(far, 7).message, "No Segment Selected");
}

TEST(SkinTest, LaterPointWinsTiesAndMiddlesNeverPair) {
  Figure figure;
  const int root = figure.AddSegment(kNoNode, "/p.seg");
  figure.AddSegment(root, "/c.seg");
  // Parent: a middle point at the origin. Child: two one-point splines at
  // equal distance, and a middle point right on top of the parent's.
  figure.nodes[0].segment = SegmentOf({{{-5, 0, 0}, {0, 0, 0}, {5, 0, 0}}});
  figure.nodes[1].segment =
      SegmentOf({{{0, 1, 0}}, {{0, -1, 0}}, {{-1, 0, 0}, {0, 0, 0}, {1, 0, 0}}});
  ASSERT_TRUE(FindSkin(figure, 1).Ok());
  // The parent's middle point (2) pairs with the later one-point spline (2);
  // its ends pair with nothing within range but the child's ends.
  bool middleToMiddle = false, middleToLater = false;
  for (const SkinPair& p : figure.nodes[1].skins) {
    middleToMiddle |= p.parentNumber == 2 && p.childNumber == 4;
    middleToLater |= p.parentNumber == 2 && p.childNumber == 2;
  }
  EXPECT_FALSE(middleToMiddle);
  EXPECT_TRUE(middleToLater);
}

TEST(SkinTest, JoinedPointsGetTheTangentsOfOneSpline) {
  Figure figure = Joint(0.0f);
  ASSERT_TRUE(FindSkin(figure, 1).Ok());
  PoseFigure(figure, Transform::Identity(), {1, 1, 1});  // skins apply inside posing
  // The same points as one continuous spline.
  SplineSet one;
  const Vector3 all[] = {{0, -8, 0}, {1, -4, 0}, {0, 0, 0}, {1, 4, 1}, {0, 8, 0}};
  ControlPoint* first = one.AppendSpline(all);
  const ControlPoint* joint = first->next->next;
  const ControlPoint* p = figure.nodes[0].segment->working.FindByNumber(3);
  const ControlPoint* q = figure.nodes[1].segment->working.FindByNumber(1);
  EXPECT_TRUE(VectorNear(p->inTangent, joint->inTangent, 1e-5f));
  EXPECT_TRUE(VectorNear(p->outTangent, joint->outTangent, 1e-5f));
  EXPECT_TRUE(VectorNear(q->inTangent, joint->inTangent, 1e-5f));
  const ControlPoint* q1 = figure.nodes[1].segment->working.FindByNumber(2);
  EXPECT_TRUE(VectorNear(q1->outTangent, joint->next->outTangent, 1e-5f));
  // Positions are not changed.
  EXPECT_EQ(q->position, (Vector3{0, 0, 0}));
}

TEST(SkinTest, TangentsGoBackIntoTheSegmentsOwnCoordinates) {
  Figure figure = Joint(0.0f);
  figure.nodes[1].scale = {2, 2, 2};  // the child's points are half-size in its own space
  figure.nodes[1].segment = SegmentOf({{{0, 0, 0}, {0.5f, 2, 0.5f}, {0, 4, 0}}});
  ASSERT_TRUE(FindSkin(figure, 1).Ok());
  PoseFigure(figure, Transform::Identity(), {1, 1, 1});
  ApplySkins(figure);
  const ControlPoint* p = figure.nodes[0].segment->working.FindByNumber(3);
  const ControlPoint* q = figure.nodes[1].segment->working.FindByNumber(1);
  EXPECT_TRUE(VectorNear(q->inTangent * 2.0f, p->inTangent, 1e-5f));
}

TEST(SkinFileTest, WriteReadAndVersionOne) {
  TempDir dir;
  Figure figure;
  const int root = figure.AddSegment(kNoNode, (dir / "p.seg").string());
  const int child = figure.AddSegment(root, (dir / "c.seg").string());
  figure.nodes[static_cast<std::size_t>(child)].skins = {{3, 1}, {7, 9}};
  ASSERT_EQ(WriteSkinFile(figure, (dir / "f.ski").string()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "f.ski"), "SKIN 2 0 1 0 0 0\n0\nc.seg\n2\n3 1\n7 9\n");
  Figure other;
  const int r2 = other.AddSegment(kNoNode, (dir / "p.seg").string());
  other.AddSegment(r2, (dir / "c.seg").string());
  ASSERT_TRUE(ReadSkinFile(other, (dir / "f.ski").string()));
  EXPECT_EQ(other.nodes[1].skins, figure.nodes[1].skins);
  EXPECT_FALSE(other.flags & kFigureSkinChanged);
  // Version 1: counts in depth-first order, and a rewrite at the next save.
  testing::WriteFile(dir / "old.ski", "SKIN 1 0 1 0 0 0\n0\n0\n1\n4 5\n");
  Figure old;
  const int r3 = old.AddSegment(kNoNode, "/p.seg");
  old.AddSegment(r3, "/c.seg");
  old.flags = 0;
  ASSERT_TRUE(ReadSkinFile(old, (dir / "old.ski").string()));
  EXPECT_EQ(old.nodes[1].skins, (std::vector<SkinPair>{{4, 5}}));
  EXPECT_TRUE(old.flags & kFigureSkinChanged);
  EXPECT_FALSE(ReadSkinFile(old, (dir / "missing.ski").string()));
}

}  // namespace
}  // namespace zentrope

// Figures: the tree, the figure file and posing.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "core/rotation.h"
#include "figure/figure_file.h"
#include "figure/pose.h"
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
using testing::WriteFile;

std::string Record(const std::string& name, const std::string& mode, const std::string& rotation,
                   const std::string& links) {
  return name + "\n" + mode + "\n0 0 0\n1 1 1\n" + rotation + "\n0 0 0\n0 360 0 180 0 7\n" + links +
         "\n";
}

TEST(FigureFileTest, GhostRecordAndFieldOrder) {
  TempDir dir;
  Figure figure;
  figure.AddGhost(kNoNode);
  ASSERT_EQ(WriteFigure(figure, (dir / "g.fig").string()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "g.fig"),
            "FIGU 4 0 1 0 0 0\n0\nghost\n2\n0 0 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n0 0\n");

  const std::string text = "FIGU 4 0 1 0 0 0\n0\n" + Record("", "4", "10 20 30", "0 0");
  Result<Figure> f = ParseFigure(text, (dir / "r.fig").string());
  ASSERT_TRUE(f) << f.failure().detail;
  const FigureNode& n = f->nodes[0];
  EXPECT_TRUE(n.IsGhost());
  EXPECT_EQ(n.drawMode, 129);                    // a stored 4 is a hidden Vector
  EXPECT_EQ(n.rotation, (Vector3{30, 20, 10}));  // Latitude, Longitude, Roll
  EXPECT_EQ(n.extraByte, 7);
  ASSERT_EQ(WriteFigure(*f, (dir / "r.fig").string()), SaveStatus::kSaved);
  const std::string back = ReadFile(dir / "r.fig");
  EXPECT_NE(back.find("\n129\n0 0 0\n1 1 1\n10 20 30\n"), std::string::npos) << back;
}

TEST(FigureFileTest, TreeOrderRoundTrip) {
  TempDir dir;
  // Patriarch with two children; the first child has a child of its own;
  // the patriarch has a sibling.
  const std::string text = "FIGU 4 0 1 0 0 0\n0\n" + Record("", "2", "0 0 0", "1 1") +
                           Record("", "2", "0 0 1", "1 1") + Record("", "2", "0 0 2", "0 0") +
                           Record("", "2", "0 0 3", "0 0") + Record("", "2", "0 0 4", "0 0");
  Result<Figure> f = ParseFigure(text, (dir / "t.fig").string());
  ASSERT_TRUE(f) << f.failure().detail;
  ASSERT_EQ(f->nodes.size(), 5u);
  EXPECT_EQ(f->nodes[0].firstChild, 1);
  EXPECT_EQ(f->nodes[1].firstChild, 2);
  EXPECT_EQ(f->nodes[1].nextSibling, 3);
  EXPECT_EQ(f->nodes[0].nextSibling, 4);
  EXPECT_EQ(f->nodes[2].parent, 1);
  EXPECT_EQ(f->DepthFirst(), (std::vector<int>{0, 1, 2, 3, 4}));
  ASSERT_EQ(WriteFigure(*f, (dir / "t.fig").string()), SaveStatus::kSaved);
  // Ghost names are written as "ghost"; otherwise the same records.
  Result<Figure> again = ReadFigure((dir / "t.fig").string());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->DepthFirst(), f->DepthFirst());
  EXPECT_EQ(again->nodes[3].rotation.x, 3.0f);
}

TEST(FigureFileTest, SegmentPathsAndBounds) {
  Result<Figure> f = ReadFigure((SourceDir() / "examples" / "arm" / "arm.fig").string());
  ASSERT_TRUE(f) << f.failure().detail;
  ASSERT_EQ(f->nodes.size(), 2u);
  EXPECT_EQ(f->nodes[1].name, (SourceDir() / "examples" / "arm" / "lower.seg").string());
  EXPECT_EQ(f->nodes[0].boundsMin, (Vector3{-2, -10, 0}));
  EXPECT_NEAR(f->nodes[0].size, std::sqrt(16.0f + 100.0f), 1e-5f);
  TempDir dir;
  ASSERT_EQ(WriteFigure(*f, (dir / "copy.fig").string()), SaveStatus::kSaved);
  // Below the figure's folder paths are relative; elsewhere absolute.
  EXPECT_NE(ReadFile(dir / "copy.fig").find(f->nodes[1].name), std::string::npos);
}

TEST(FigureFileTest, OlderVersionsAndFailures) {
  TempDir dir;
  // Version 3: name and draw mode on one line.
  Result<Figure> v3 = ParseFigure(
      "FIGU 3 0 1 0 0 0\n0\nghost 3\n0 0 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n0 0\n",
      (dir / "v3.fig").string());
  ASSERT_TRUE(v3) << v3.failure().detail;
  EXPECT_EQ(v3->nodes[0].drawMode, 3);
  // Version 1: the older rotation angles turned into Latitude and Longitude.
  Result<Figure> v1 = ParseFigure("FIGU 1 0 1 0 0 0\n0\nghost\n0 0 0\n1 1 1\n0 90 0\n0 0\n",
                                  (dir / "v1.fig").string());
  ASSERT_TRUE(v1) << v1.failure().detail;
  EXPECT_NEAR(v1->nodes[0].rotation.x, 90.0f, 1e-4f);
  EXPECT_NEAR(v1->nodes[0].rotation.y, 90.0f, 1e-4f);
  EXPECT_EQ(v1->nodes[0].drawMode, kDrawBound);
  EXPECT_EQ(v1->nodes[0].limits[1], 360.0f);
  Result<Figure> newer = ParseFigure("FIGU 5 0 1 0 0 0\n0\n", "n.fig");
  ASSERT_FALSE(newer);
  EXPECT_EQ(newer.failure().message, "Requires Newer Software");
  const std::string good =
      "FIGU 4 0 1 0 0 0\n0\n" + Record("", "2", "0 0 0", "0 1") + Record("", "2", "0 0 0", "0 0");
  for (std::size_t n = 0; n + 1 < good.size(); ++n) {
    EXPECT_FALSE(ParseFigure(good.substr(0, n), "cut.fig")) << n;
  }
  EXPECT_TRUE(ParseFigure(good, "whole.fig"));
  Result<Figure> bad = ParseFigure("FIGU 4 0 1 0 0 0\n0\nghost\n2\nx 0 0\n", "bad.fig");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.failure().message, "Trouble Opening Figure");
}

// A chain of ghosts, each the only child of the one before.
std::string GhostChain(int depth) {
  std::string text = "FIGU 4 0 1 0 0 0\n0\n";
  for (int i = 0; i < depth; ++i) {
    text += "\n2\n0 1 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n";
    text += i + 1 < depth ? "0 1\n" : "0 0\n";
  }
  return text;
}

// Catches: a deep chain posed by recursion, and the depth bound off by one
// (the deepest node allowed is at level kMaxFigureNodeDepth).
TEST(FigureFileTest, DeepChainsReadAndPoseWithoutRecursion) {
  Result<Figure> f = ParseFigure(GhostChain(kMaxFigureNodeDepth), "deep.fig");
  ASSERT_TRUE(f) << f.failure().detail;
  ASSERT_EQ(f->nodes.size(), static_cast<std::size_t>(kMaxFigureNodeDepth));
  PoseFigure(*f, Transform::Identity(), {1, 1, 1});
  // Each node sits 1 above its parent.
  EXPECT_EQ(f->nodes.back().frameTransform.Translation().y,
            static_cast<float>(kMaxFigureNodeDepth));
}

// Catches: a figure nested without bound read in full, so that posing it
// costs memory and time in proportion to depth times nodes.
TEST(FigureFileTest, TooDeepOrTooManyNodesAreRefused) {
  Result<Figure> deep = ParseFigure(GhostChain(kMaxFigureNodeDepth + 1), "deep.fig");
  ASSERT_FALSE(deep);
  EXPECT_EQ(deep.failure().message, "Trouble Opening Figure");
  EXPECT_NE(deep.failure().detail.find("deeper than 1000"), std::string::npos);
  // kMaxFigureNodes + 1 top-level siblings, each followed by another.
  std::string wide = "FIGU 4 0 1 0 0 0\n0\n";
  for (int i = 0; i <= kMaxFigureNodes; ++i) {
    wide += "\n2\n0 0 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n";
    wide += i < kMaxFigureNodes ? "1 0\n" : "0 0\n";
  }
  Result<Figure> many = ParseFigure(wide, "wide.fig");
  ASSERT_FALSE(many);
  EXPECT_NE(many.failure().detail.find("more than 32767 nodes"), std::string::npos);
}

// Catches: a figure whose records end early (a sibling flag of 0 read
// where the file goes on) taken for the whole figure and resaved without
// the rest.
TEST(FigureFileTest, DataAfterTheLastNodeIsRefused) {
  const std::string one = GhostChain(1);
  ASSERT_TRUE(ParseFigure(one + "\n  \n", "blank.fig")) << "blank lines after the end are kept";
  Result<Figure> extra = ParseFigure(one + GhostChain(1).substr(19), "extra.fig");
  ASSERT_FALSE(extra);
  EXPECT_NE(extra.failure().detail.find("data after the last record"), std::string::npos);
}

TEST(FigureTest, LimitsAndDrawModes) {
  Figure figure;
  const int root = figure.AddGhost(kNoNode);
  const int child = figure.AddGhost(root);
  FigureNode& n = figure.nodes[static_cast<std::size_t>(child)];
  SetLatitude(n, 200);
  EXPECT_EQ(n.limits[3], 200.0f);
  SetLongitude(n, -20);
  EXPECT_EQ(n.limits[0], -20.0f);
  n.limits = {0, 90, 10, 45};
  n.rotation = {100, 120, 500};
  ClampToLimits(n);
  EXPECT_EQ(n.rotation, (Vector3{45, 90, 500}));  // Roll has no limits
  figure.flags = 0;
  figure.ToggleHidden(child);
  figure.SetDrawMode(root, kDrawCurved, /*branch=*/true);
  EXPECT_EQ(figure.nodes[0].drawMode, kDrawCurved);
  EXPECT_EQ(figure.nodes[1].drawMode, kDrawCurved | kDrawHidden);
  EXPECT_EQ(figure.flags, kFigureSaveNeeded | kFigureChanged);
}

TEST(PoseTest, ChildPivotFollowsParentScale) {
  Figure figure;
  const int root = figure.AddGhost(kNoNode);
  const int child = figure.AddGhost(root);
  figure.nodes[0].scale = {2, 2, 2};
  figure.nodes[static_cast<std::size_t>(child)].position = {0, 5, 0};
  PoseFigure(figure, Transform::Identity(), {1, 1, 1});
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), {0, 10, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(figure.nodes[1].posedScale, {2, 2, 2}, 0));
}

TEST(PoseTest, TwoNodesAgainstTransformsComposedByHand) {
  Figure figure;
  const int root = figure.AddGhost(kNoNode);
  const int child = figure.AddGhost(root);
  FigureNode& p = figure.nodes[static_cast<std::size_t>(root)];
  FigureNode& c = figure.nodes[static_cast<std::size_t>(child)];
  p.position = {1, 2, 3};
  p.rotation = {30, 20, 10};
  p.cogRotation = {5, 15, 25};
  p.RebuildCog();
  p.scale = {1, 2, 1};
  c.position = {1, -10, 2};
  c.rotation = {60, -40, 15};
  c.cogRotation = {0, 90, 0};
  c.RebuildCog();
  c.scale = {3, 1, 1};
  const Transform place = BuildRotation({5, 0, 0}, {0, 45, 0});
  PoseFigure(figure, place, {1, 1, 2});

  const Matrix3 m = place.Linear();
  const Matrix3 pAxes = m * Roll(p.cogRotation) * Roll(p.rotation);
  const Vector3 pPivot = m * Vector3{1, 2, 6} + Vector3{5, 0, 0};
  EXPECT_TRUE(MatrixNear(figure.nodes[0].frameTransform.Linear(), pAxes, 1e-5f));
  EXPECT_TRUE(VectorNear(figure.nodes[0].frameTransform.Translation(), pPivot, 1e-5f));
  Matrix3 pGeometry = pAxes * Transpose(Roll(p.cogRotation));
  ScaleColumns(pGeometry, {1, 2, 2});
  EXPECT_TRUE(MatrixNear(figure.nodes[0].geometryTransform.Linear(), pGeometry, 1e-5f));

  const Vector3 pScale{1, 2, 2};
  const Matrix3 cAxes = pAxes * Roll(c.cogRotation) * Roll(c.rotation);
  const Vector3 cPivot = pAxes * Vector3{1 * 1, -10 * 2, 2 * 2} + pPivot;
  EXPECT_TRUE(MatrixNear(figure.nodes[1].frameTransform.Linear(), cAxes, 1e-5f));
  EXPECT_TRUE(VectorNear(figure.nodes[1].frameTransform.Translation(), cPivot, 1e-4f));
  Matrix3 cGeometry = cAxes * Transpose(Roll(c.cogRotation));
  ScaleColumns(cGeometry, {3 * pScale.x, 1 * pScale.y, 1 * pScale.z});
  EXPECT_TRUE(MatrixNear(figure.nodes[1].geometryTransform.Linear(), cGeometry, 1e-5f));
}

}  // namespace
}  // namespace zentrope

// Projection, near-plane cut and clipping of the wireframe views.
#include <gtest/gtest.h>

#include "core/view.h"

namespace zentrope {
namespace {

View OrthoView() {
  View v;
  v.clip = {0, 0, 99, 99};
  v.cx = 50;
  v.cy = 50;
  v.zoom = 10.0f;
  return v;
}

View PerspectiveView() {
  View v = OrthoView();
  v.distance = 2.0f;
  return v;
}

TEST(ViewTest, OrthographicProjectionTruncatesTowardZero) {
  View v = OrthoView();
  v.px = 0.5f;
  v.aspect = 2.0f;
  // sx = 50 + trunc((1.27 + 0.5)·10) = 67; sy = 50 − trunc((−1.27)·10·2) = 75.
  EXPECT_EQ(ProjectPoint(v, {1.27f, -1.27f, -5.0f}), (ScreenPoint{67, 75}));
  // Negative values truncate toward zero, not down.
  EXPECT_EQ(ProjectPoint(v, {-0.59f, 0.0f, 0.0f}), (ScreenPoint{50, 50}));
}

TEST(ViewTest, PerspectiveDividesByDepthOverDistance) {
  const View v = PerspectiveView();
  // w = 4/2 = 2: x/w = 1, y/w = 0.5.
  EXPECT_EQ(ProjectPoint(v, {2, 1, 4}), (ScreenPoint{60, 45}));
  EXPECT_TRUE(ProjectPoint(v, {0, 0, 1.0f}).has_value());
  EXPECT_FALSE(ProjectPoint(v, {0, 0, 0.999f}).has_value());
}

// Catches: in perspective, the aspect factor left out, put on x, or applied
// before the divide by depth; the pan added before the divide; or flooring
// instead of truncation.
TEST(ViewTest, PerspectiveWithAspectAndPan) {
  View v = PerspectiveView();  // centre (50, 50), zoom 10
  v.distance = 4.0f;
  v.aspect = 0.75f;
  v.px = 0.25f;
  v.py = -0.35f;
  // (3, −2, 8): w = 8/4 = 2, x/w = 1.5, y/w = −1.
  // sx = 50 + trunc((1.5 + 0.25)·10) = 50 + trunc(17.5) = 67.
  // sy = 50 − trunc((−1 − 0.35)·10·0.75) = 50 − trunc(−10.125) = 60.
  EXPECT_EQ(ProjectPoint(v, {3, -2, 8}), (ScreenPoint{67, 60}));
  // (−1, 6, 2): w = 0.5, x/w = −2, y/w = 12.
  // sx = 50 + trunc((−2 + 0.25)·10) = 50 − 17 = 33.
  // sy = 50 − trunc((12 − 0.35)·10·0.75) = 50 − trunc(87.375) = −37: off the
  // clip rectangle, but projection does not clip.
  EXPECT_EQ(ProjectPoint(v, {-1, 6, 2}), (ScreenPoint{33, -37}));
  // An aspect of 2 doubles only the vertical offset: (0, 1.03, 4), w = 1,
  // sx = 50 + trunc(0.25·10) = 52, sy = 50 − trunc((1.03 − 0.35)·10·2) =
  // 50 − trunc(13.6) = 37.
  v.aspect = 2.0f;
  EXPECT_EQ(ProjectPoint(v, {0, 1.03f, 4}), (ScreenPoint{52, 37}));
}

TEST(ViewTest, LineBehindNearPlaneDrawsNothing) {
  RecordingSink sink;
  DrawViewLine(PerspectiveView(), {0, 0, 0.5f}, {1, 1, -3.0f}, sink);
  EXPECT_TRUE(sink.lines.empty());
}

TEST(ViewTest, LineCrossingNearPlaneIsCutAtDepthOne) {
  const View v = PerspectiveView();
  // From (0,0,0) to (4,2,5): zv = 1 at f = (5 − 1)/(5 − 0) of the way back
  // from b, i.e. at (0.8, 0.4, 1).
  RecordingSink sink;
  DrawViewLine(v, {0, 0, 0}, {4, 2, 5}, sink);
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0].from, *ProjectPoint(v, {0.8f, 0.4f, 1.0f}));
  EXPECT_EQ(sink.lines[0].to, *ProjectPoint(v, {4, 2, 5}));
  // The same cut when the near end comes second.
  RecordingSink reversed;
  DrawViewLine(v, {4, 2, 5}, {0, 0, 0}, reversed);
  ASSERT_EQ(reversed.lines.size(), 1u);
  EXPECT_EQ(reversed.lines[0].to, sink.lines[0].from);
}

struct ClipCase {
  ScreenPoint a, b;
  bool visible;
  ScreenPoint ca, cb;
};

TEST(ViewTest, LiangBarskyClipsAgainstEachEdge) {
  const ClipRect rect{10, 20, 110, 220};
  const ClipCase cases[] = {
      {{0, 50}, {50, 50}, true, {10, 50}, {50, 50}},       // crosses left
      {{50, 50}, {200, 50}, true, {50, 50}, {110, 50}},    // crosses right
      {{50, 0}, {50, 100}, true, {50, 20}, {50, 100}},     // crosses top
      {{50, 100}, {50, 300}, true, {50, 100}, {50, 220}},  // crosses bottom
      {{0, 0}, {120, 240}, true, {10, 20}, {110, 220}},    // corner to corner
      {{0, 30}, {5, 200}, false, {}, {}},                  // left of the rectangle
      {{5, 10}, {5, 100}, false, {}, {}},                  // vertical, outside
      {{20, 5}, {90, 5}, false, {}, {}},                   // horizontal, outside
      {{20, 30}, {90, 200}, true, {20, 30}, {90, 200}},    // inside untouched
      {{0, 21}, {3, 24}, false, {}, {}},                   // ends before the edge
  };
  for (const ClipCase& c : cases) {
    ScreenPoint a = c.a, b = c.b;
    ASSERT_EQ(ClipLine(rect, a, b), c.visible) << c.a.x << "," << c.a.y;
    if (c.visible) {
      EXPECT_EQ(a, c.ca);
      EXPECT_EQ(b, c.cb);
    }
  }
}

TEST(ViewTest, ClippedEndsTruncate) {
  const ClipRect rect{0, 0, 10, 10};
  // From (−3, 0) to (7, 3): enters at t = 0.3, y = 0.9 → 0.
  ScreenPoint a{-3, 0}, b{7, 3};
  ASSERT_TRUE(ClipLine(rect, a, b));
  EXPECT_EQ(a, (ScreenPoint{0, 0}));
  // From (−3, 10) to (7, 0): enters at t = 0.3, y = 10 − 3 = 7 exactly.
  a = {-3, 10};
  b = {7, 0};
  ASSERT_TRUE(ClipLine(rect, a, b));
  EXPECT_EQ(a, (ScreenPoint{0, 7}));
}

TEST(ViewTest, MarksOnlyStrictlyInside) {
  const ClipRect rect{0, 0, 10, 10};
  EXPECT_TRUE(MarkVisible(rect, {1, 1}));
  EXPECT_TRUE(MarkVisible(rect, {9, 9}));
  EXPECT_FALSE(MarkVisible(rect, {0, 5}));
  EXPECT_FALSE(MarkVisible(rect, {5, 10}));
}

}  // namespace
}  // namespace zentrope

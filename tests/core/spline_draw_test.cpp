// Wireframe drawing of splines.
#include <gtest/gtest.h>

#include <array>

#include "core/spline.h"
#include "core/spline_draw.h"

namespace zentrope {
namespace {

struct Square {
  std::array<ControlPoint, 4> p;
  explicit Square(bool closed) {
    const Vector3 pos[4] = {{-2, -2, 0}, {2, -2, 0}, {2, 2, 0}, {-2, 2, 0}};
    for (int i = 0; i < 4; ++i) {
      p[i].position = pos[i];
      p[i].prev = i > 0 ? &p[i - 1] : nullptr;
      p[i].next = i < 3 ? &p[i + 1] : nullptr;
    }
    if (closed) {
      p[3].next = &p[0];
      p[0].prev = &p[3];
      p[3].flags |= kPointLoopClosing;
    }
    ComputeSplineTangents(&p[0]);
  }
};

View TestView() {
  View v;
  v.clip = {0, 0, 200, 200};
  v.cx = 100;
  v.cy = 100;
  v.zoom = 10.0f;
  return v;
}

TEST(DrawSplineTest, EightPiecesPerSegment) {
  Square open(false);
  RecordingSink sink;
  DrawSpline(TestView(), &open.p[0], sink);
  EXPECT_EQ(sink.lines.size(), 3u * 8u);
  Square closed(true);
  RecordingSink loop;
  DrawSpline(TestView(), &closed.p[0], loop);
  EXPECT_EQ(loop.lines.size(), 4u * 8u);
  EXPECT_EQ(loop.marks.size(), 4u);
}

TEST(DrawSplineTest, PiecesRunFromNextPointBackAndJoin) {
  Square open(false);
  RecordingSink sink;
  DrawSpline(TestView(), &open.p[0], sink);
  // The first segment (p0 → p1) is drawn from p1's screen position to p0's.
  EXPECT_EQ(sink.lines.front().from, (ScreenPoint{120, 120}));
  EXPECT_EQ(sink.lines[7].to, (ScreenPoint{80, 120}));
  for (std::size_t i = 1; i < 8; ++i) {
    EXPECT_EQ(sink.lines[i].from, sink.lines[i - 1].to);
  }
}

TEST(DrawSplineTest, MarksAndColours) {
  Square open(false);
  open.p[1].flags |= kPointSelected;
  RecordingSink sink;
  DrawSpline(TestView(), &open.p[0], sink);
  ASSERT_EQ(sink.marks.size(), 4u);
  EXPECT_EQ(sink.marks[0].corner, (ScreenPoint{79, 119}));  // one up and left of (80, 120)
  EXPECT_EQ(sink.marks[0].size, 3);
  EXPECT_EQ(sink.marks[0].colour, kMarkNormal);
  EXPECT_EQ(sink.marks[1].colour, (Rgb{255, 0, 0}));
  EXPECT_EQ(sink.marks[2].colour, (Rgb{0, 255, 0}));
}

TEST(DrawSplineTest, HiddenPointsDropTheirSegmentsAndMarks) {
  Square open(false);
  open.p[1].flags |= kPointHidden;
  RecordingSink sink;
  DrawSpline(TestView(), &open.p[0], sink);
  EXPECT_EQ(sink.lines.size(), 1u * 8u);  // only p2 → p3
  EXPECT_EQ(sink.marks.size(), 3u);
}

TEST(DrawSplineTest, MarksOutsideTheClipRectangleAreSkipped) {
  Square open(false);
  View v = TestView();
  v.clip = {0, 0, 100, 100};  // only the centre's upper-left quarter
  RecordingSink sink;
  DrawSpline(v, &open.p[0], sink);
  // (−2, 2) projects to (80, 80), the only point strictly inside.
  ASSERT_EQ(sink.marks.size(), 1u);
  EXPECT_EQ(sink.marks[0].corner, (ScreenPoint{79, 79}));
  for (const auto& line : sink.lines) {
    EXPECT_LE(line.from.x, 100);
    EXPECT_LE(line.to.y, 100);
  }
}

TEST(DrawSplineTest, ViewTransformMovesTheDrawing) {
  Square open(false);
  View v = TestView();
  v.transform.SetTranslation({1, 0, 0});
  RecordingSink sink;
  DrawSpline(v, &open.p[0], sink);
  EXPECT_EQ(sink.lines.front().from, (ScreenPoint{130, 120}));
}

}  // namespace
}  // namespace zentrope

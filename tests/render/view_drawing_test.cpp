// The editor views drawn into pictures: fitting, the directions of the
// seven fixed views, zoom and pan, the grid, the choreography's paths,
// camera and lights, and the shaded framing matching the lines.
#include "render/view_drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "chor/choreography_file.h"
#include "render/model_render.h"
#include "render/model_scene.h"
#include "render/render_scenes.h"

namespace zentrope {
namespace {

using testing::SmallVase;

struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  bool Empty() const { return x1 < 0; }
};

// Where pixels of one colour lie.
Box PixelsOf(const Picture& p, std::array<std::uint8_t, 3> colour) {
  Box b;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const std::uint8_t* px = p.Pixel(x, y);
      if (px[0] == colour[0] && px[1] == colour[1] && px[2] == colour[2]) {
        b.x0 = std::min(b.x0, x);
        b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x);
        b.y1 = std::max(b.y1, y);
      }
    }
  }
  return b;
}

// Anything but the paper.
Box Drawn(const Picture& p) {
  Box b;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const std::uint8_t* px = p.Pixel(x, y);
      if (px[0] != 255 || px[1] != 255 || px[2] != 255) {
        b.x0 = std::min(b.x0, x);
        b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x);
        b.y1 = std::max(b.y1, y);
      }
    }
  }
  return b;
}

ModelScene VaseScene() {
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  return scene;
}

Picture Draw(const ModelScene& scene, const ViewDecorations& decorations, const ViewState& state,
             ViewOptions options, int w = 200, int h = 150) {
  Picture picture;
  picture.width = w;
  picture.height = h;
  DrawDocumentView(scene, decorations, state, options, picture);
  return picture;
}

ViewOptions NoGrid() {
  ViewOptions o;
  o.grid = false;
  return o;
}

// Catches: a view missing from the word table, so --view cannot name it.
TEST(ViewKinds, EveryViewHasAWordThatNamesIt) {
  for (ViewKind k : kAllViewKinds) {
    ASSERT_EQ(ViewKindNamed(ViewKindWord(k)), k) << ViewKindWord(k);
  }
  EXPECT_EQ(std::string(ViewKindTitle(ViewKind::kBirdsEye)), "Bird's Eye");
  EXPECT_FALSE(ViewKindNamed("Front").has_value());  // words are lower case
  EXPECT_FALSE(ViewKindNamed("").has_value());
}

// Catches: the fit ignoring the margin or one of the picture's sides, so
// the model runs off the view or shrinks to a corner.
TEST(DocumentView, AFittedModelFillsTheViewLessATenthOnEachSide) {
  const ModelScene scene = VaseScene();
  for (ViewKind k : {ViewKind::kFront, ViewKind::kTop, ViewKind::kLeft, ViewKind::kBirdsEye}) {
    const Picture p = Draw(scene, {}, InitialViewState(k), NoGrid());
    const Box b = PixelsOf(p, view_colour::kSpline);
    ASSERT_FALSE(b.Empty()) << ViewKindWord(k);
    EXPECT_GE(b.x0, 200 / 10 - 1) << ViewKindWord(k);
    EXPECT_LE(b.x1, 200 - 200 / 10) << ViewKindWord(k);
    EXPECT_GE(b.y0, 150 / 10 - 1) << ViewKindWord(k);
    EXPECT_LE(b.y1, 150 - 150 / 10) << ViewKindWord(k);
    if (k == ViewKind::kBirdsEye) {
      continue;  // the box's corners, not the round vase, reach the margin
    }
    // The limiting side is used: the drawing spans most of it.
    const bool wide = b.x1 - b.x0 >= 200 * 8 / 10 - 4;
    const bool tall = b.y1 - b.y0 >= 150 * 8 / 10 - 4;
    EXPECT_TRUE(wide || tall) << ViewKindWord(k) << " spans " << b.x1 - b.x0 << "x" << b.y1 - b.y0;
  }
}

// Catches: a view looking the wrong way: Top with +z up the screen, Left
// and Right swapped, Back not the mirror of Front.
TEST(DocumentView, FixedViewsLookAlongTheirOwnAxes) {
  // A light off to +x and a path off to +z, on the ground; nothing else.
  ViewDecorations d;
  d.lights.push_back({{400.0f, 0.0f, 0.0f}, std::nullopt});
  d.paths.push_back({{0.0f, 0.0f, 300.0f}, {0.0f, 0.0f, 400.0f}});
  const ModelScene empty;
  const auto lightX = [&](ViewKind k) {
    const Box b = PixelsOf(Draw(empty, d, InitialViewState(k), NoGrid()), view_colour::kLight);
    EXPECT_FALSE(b.Empty()) << ViewKindWord(k);
    return (b.x0 + b.x1) / 2;
  };
  const auto pathAt = [&](ViewKind k) {
    const Box b = PixelsOf(Draw(empty, d, InitialViewState(k), NoGrid()), view_colour::kPath);
    EXPECT_FALSE(b.Empty()) << ViewKindWord(k);
    return std::array<int, 2>{(b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2};
  };
  EXPECT_GT(lightX(ViewKind::kFront), 100);  // +x to the right
  EXPECT_LT(lightX(ViewKind::kBack), 100);   // and to the left from behind
  EXPECT_GT(lightX(ViewKind::kTop), 100);
  EXPECT_GT(pathAt(ViewKind::kTop)[1], 75);     // +z towards the viewer: down the screen
  EXPECT_LT(pathAt(ViewKind::kBottom)[1], 75);  // and up it from below
  EXPECT_GT(pathAt(ViewKind::kLeft)[0], 100);   // from −x, +z lies to the right
  EXPECT_LT(pathAt(ViewKind::kRight)[0], 100);
}

// Catches: zoom about a point other than the centre, or a pan measured in
// pixels rather than world units (so it would change with the zoom).
TEST(DocumentView, ZoomScalesAboutTheCentreAndPanMovesInWorldUnits) {
  const ModelScene empty;
  ViewDecorations d;
  d.lights.push_back({{-500.0f, 0.0f, 0.0f}, std::nullopt});
  d.lights.push_back({{500.0f, 0.0f, 0.0f}, std::nullopt});
  ViewState s = InitialViewState(ViewKind::kFront);
  const View fitted = MakeView(empty, d, s, NoGrid(), 200, 150);
  s.zoom = 2.0f;
  const View zoomed = MakeView(empty, d, s, NoGrid(), 200, 150);
  EXPECT_FLOAT_EQ(zoomed.zoom, 2.0f * fitted.zoom);
  const Vector3 right = fitted.transform.ApplyToPoint({500.0f, 0.0f, 0.0f});
  const auto at1 = ProjectPoint(fitted, right);
  const auto at2 = ProjectPoint(zoomed, right);
  ASSERT_TRUE(at1 && at2);
  EXPECT_NEAR(at2->x - 100, 2 * (at1->x - 100), 1);
  s.panX = 100.0f;  // world units
  const View panned = MakeView(empty, d, s, NoGrid(), 200, 150);
  const auto at3 = ProjectPoint(panned, panned.transform.ApplyToPoint({500.0f, 0.0f, 0.0f}));
  ASSERT_TRUE(at3);
  EXPECT_NEAR(at3->x - at2->x, 100.0f * zoomed.zoom, 1.0f);
}

// Catches: an empty scene framed about nothing (a zero-size box gives an
// endless zoom), and grid lines that are not evenly spaced.
TEST(DocumentView, AnEmptySceneShowsTheGridOverAThousandUnits) {
  Vector3 lo, hi;
  FramingBox(ModelScene{}, {}, lo, hi);
  EXPECT_EQ(lo.x, -500.0f);
  EXPECT_EQ(hi.z, 500.0f);
  ViewOptions o;
  o.gridSpacing = 100.0f;
  const Picture p = Draw(ModelScene{}, {}, InitialViewState(ViewKind::kFront), o, 400, 300);
  // Grid columns along the middle row.
  std::vector<int> columns;
  for (int x = 0; x < p.width; ++x) {
    const std::uint8_t* px = p.Pixel(x, 40);
    if (px[0] == view_colour::kGrid[0] && px[1] == view_colour::kGrid[1]) {
      columns.push_back(x);
    }
  }
  ASSERT_GE(columns.size(), 8u);
  // The ±500 box fits 400 × 300 less a tenth each side: zoom min(160, 120)
  // / 500 = 0.24, so lines of 100 units lie 24 pixels apart.
  for (std::size_t i = 1; i < columns.size(); ++i) {
    EXPECT_NEAR(columns[i] - columns[i - 1], 24.0f, 1.0f);
  }
  // Without the grid the paper stays blank.
  EXPECT_TRUE(Drawn(Draw(ModelScene{}, {}, InitialViewState(ViewKind::kFront), NoGrid())).Empty());
}

// Catches: a grid so fine at a small zoom that it floods the view, or so
// coarse for a small scene that no line but the axes shows.
TEST(DocumentView, GridLinesStayBetweenSixPixelsAndAQuarterOfTheView) {
  View v;
  v.clip = {0, 0, 399, 299};  // a quarter of the shorter side: 75 pixels
  v.zoom = 0.01f;
  EXPECT_EQ(GridSpacingOn(v, 200.0f), 800.0f);  // 2 px → 8 px
  v.zoom = 0.1f;
  EXPECT_EQ(GridSpacingOn(v, 200.0f), 200.0f);  // 20 px as set
  v.zoom = 6.5f;                                // a small scene: 1300 px
  EXPECT_EQ(GridSpacingOn(v, 200.0f), 6.25f);   // halved five times: 40.6 px
}

// Catches: the last segment of a path dropped, or the camera and lights
// left out of what frames the view.
TEST(Decorations, TheDemoSceneShowsEveryPathTheCameraAndTheLights) {
  const std::string file = std::string(ZENTROPE_SOURCE_DIR) + "/examples/demo/demo.cho";
  Result<Choreography> chor = read_choreography(file);
  ASSERT_TRUE(chor) << chor.failure().detail;
  const ViewDecorations d = DecorationsAt(*chor, 1.0f);
  ASSERT_EQ(d.paths.size(), chor->paths.size());
  for (std::size_t i = 0; i < d.paths.size(); ++i) {
    int points = 0;
    for (const ControlPoint* p = chor->paths[i].first; p; p = p->next) {
      ++points;
      if (p->next == chor->paths[i].first) {
        break;
      }
    }
    // 8 pieces per segment; the polyline ends on the last point.
    EXPECT_EQ(d.paths[i].size() % 8, 1u) << chor->paths[i].name;
    EXPECT_GE(d.paths[i].size(), static_cast<std::size_t>(8 * (points - 1) + 1));
    const ControlPoint* last = chor->paths[i].first;
    while (last->next && last->next != chor->paths[i].first) {
      last = last->next;
    }
    if (!last->next) {
      EXPECT_NEAR(d.paths[i].back().x, last->position.x, 1e-3f);
      EXPECT_NEAR(d.paths[i].back().z, last->position.z, 1e-3f);
    }
  }
  EXPECT_TRUE(d.camera.has_value());
  EXPECT_EQ(d.lights.size(), chor->lights.size());
  Vector3 lo, hi;
  FramingBox(ModelScene{}, d, lo, hi);
  EXPECT_LE(lo.x, d.camera->x);
  EXPECT_GE(hi.x, d.camera->x);
}

// Catches: the shaded picture framed differently from the lines, so
// switching a view to shaded jumps the model.
TEST(DocumentView, TheShadedFramingMatchesTheLines) {
  const ModelScene scene = VaseScene();
  const ViewState s = InitialViewState(ViewKind::kFront);
  const Box lines = PixelsOf(Draw(scene, {}, s, NoGrid()), view_colour::kSpline);
  ModelRenderOptions r;
  r.width = 200;
  r.height = 150;
  r.threads = 1;
  r.background = view_colour::kPaper;
  r.camera = ShadingFraming(scene, {}, s, NoGrid(), 200, 150);
  const ModelRenderResult shaded = RenderModel(scene, r);
  ASSERT_EQ(shaded.code, 0);
  const Box fill = Drawn(shaded.picture);
  ASSERT_FALSE(fill.Empty());
  // Centred alike; the perspective makes the nearest rim a little larger.
  EXPECT_NEAR((fill.x0 + fill.x1) / 2.0, (lines.x0 + lines.x1) / 2.0, 3.0);
  EXPECT_NEAR((fill.y0 + fill.y1) / 2.0, (lines.y0 + lines.y1) / 2.0, 6.0);
  EXPECT_NEAR(fill.x1 - fill.x0, lines.x1 - lines.x0, 0.15 * (lines.x1 - lines.x0));
}

// Catches: control point marks drawn in windows that do not ask for them.
TEST(DocumentView, ControlPointsAreMarkedOnlyWhenAsked) {
  const ModelScene scene = VaseScene();
  ViewOptions o = NoGrid();
  const Picture plain = Draw(scene, {}, InitialViewState(ViewKind::kFront), o);
  o.controlPoints = true;
  const Picture marked = Draw(scene, {}, InitialViewState(ViewKind::kFront), o);
  EXPECT_NE(plain.bgr, marked.bgr);
  const Box marks = PixelsOf(marked, {kMarkNormal.b, kMarkNormal.g, kMarkNormal.r});
  EXPECT_FALSE(marks.Empty());
  EXPECT_TRUE(PixelsOf(plain, {kMarkNormal.b, kMarkNormal.g, kMarkNormal.r}).Empty());
}

}  // namespace
}  // namespace zentrope

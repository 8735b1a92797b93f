#include "render/zbuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "image/image.h"
#include "render/golden.h"
#include "render/render_scenes.h"
#include "shell/interrupt.h"

namespace zentrope {
namespace {

using testing::ColourMaterial;
using testing::LathePieces;
using testing::ScreenSquare;
using testing::SmallView;

constexpr std::uint16_t kFlat =
    render_flags::kZBuffer | render_flags::kSmooth | render_flags::kFlat;
constexpr std::uint16_t kGouraud = render_flags::kZBuffer | render_flags::kSmooth;
constexpr std::uint16_t kPhong = render_flags::kZBuffer | render_flags::kPhong;

std::uint8_t Byte(float q) {
  return static_cast<std::uint8_t>(q * 255.0f);  // the renderer's ×255, truncated
}

int Covered(const Picture& picture) {
  int n = 0;
  for (float d : picture.depth) {
    n += d < kFarDepth ? 1 : 0;
  }
  return n;
}

Picture Render(const RenderView& view, const Material& material, const std::vector<Piece>& pieces,
               int threads = 1) {
  PatchContext patch;
  patch.material = &material;
  ZBufferRenderer renderer(view, view.cx * 2, view.cy * 2, threads);
  renderer.BeginFrame();
  for (const Piece& piece : pieces) {
    EXPECT_TRUE(renderer.AcceptPiece(patch, piece));
  }
  EXPECT_EQ(renderer.Finish(), kRenderOk);
  return renderer.picture();
}

// Pixel-centre rules.

// Catches: spans or lines rounded to nearest instead of ceil(X − 0.5) ..
// floor(X + 0.5) for columns and ceil(Y − 0.5) up to (not including)
// floor(Y + 0.5) for lines.
TEST(ZBufferCoverage, SquareOnPixelEdgesCoversTheRuleColumnsAndLines) {
  const RenderView view = SmallView(kFlat);
  const auto material = ColourMaterial({0.2f, 0.4f, 0.8f});
  // X 10..20: columns ceil(9.5) = 10 .. floor(20.5) = 20. Y 10..20: lines
  // ceil(9.5) = 10 up to floor(20.5) = 20, so 10..19.
  const Picture picture = Render(view, *material, {ScreenSquare(view, 10, 10, 20, 20, 5)});
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const bool inside = x >= 10 && x <= 20 && y >= 10 && y <= 19;
      EXPECT_EQ(picture.Depth(x, y) < kFarDepth, inside) << x << "," << y;
    }
  }
  EXPECT_EQ(Covered(picture), 11 * 10);
}

// Catches: the half-pixel offsets dropped (a square from 10.6 to 20.4 would
// then start one column or line early).
TEST(ZBufferCoverage, FractionalSquareCoversOnlyTheCentresTheRuleGives) {
  const RenderView view = SmallView(kFlat);
  const auto material = ColourMaterial({0.2f, 0.4f, 0.8f});
  // Columns ceil(10.1) = 11 .. floor(20.9) = 20; lines 11 up to floor(20.9) = 20.
  const Picture picture =
      Render(view, *material, {ScreenSquare(view, 10.6f, 10.6f, 20.4f, 20.4f, 5)});
  EXPECT_EQ(Covered(picture), 10 * 9);
  EXPECT_LT(picture.Depth(11, 11), kFarDepth);
  EXPECT_LT(picture.Depth(20, 19), kFarDepth);
  EXPECT_EQ(picture.Depth(10, 11), kFarDepth);
  EXPECT_EQ(picture.Depth(11, 10), kFarDepth);
  EXPECT_EQ(picture.Depth(21, 15), kFarDepth);
  EXPECT_EQ(picture.Depth(15, 20), kFarDepth);
}

// Catches: lines at the clip rectangle's bottom drawn (it is exclusive), or
// the clip ignored for columns.
TEST(ZBufferCoverage, ClipRectangleLimitsLinesAndColumns) {
  RenderView view = SmallView(kFlat);
  view.clip = {12, 12, 18, 16};
  const auto material = ColourMaterial({0.2f, 0.4f, 0.8f});
  const Picture picture = Render(view, *material, {ScreenSquare(view, 0, 0, 64, 48, 5)});
  EXPECT_EQ(Covered(picture), 6 * 4);
  EXPECT_LT(picture.Depth(12, 12), kFarDepth);
  EXPECT_LT(picture.Depth(17, 15), kFarDepth);
  EXPECT_EQ(picture.Depth(18, 15), kFarDepth);
  EXPECT_EQ(picture.Depth(17, 16), kFarDepth);
}

// Shading.

// Catches: FLAT still lit (intensity or ambiance applied) or a pixel left
// unwritten inside the lathe.
TEST(ZBufferShading, FlatShowsTheMaterialColourOnEveryCoveredPixel) {
  const ColourBgr colour{0.2f, 0.4f, 0.8f};
  const auto material = ColourMaterial(colour, 0.3f, 0.9f);
  const Picture picture = Render(SmallView(kFlat, 18.0f), *material,
                                 LathePieces(testing::SphereProfile, 12, 24, 0.3f, {0, 0, 10}));
  // The sphere of radius 18 pixels covers about π·18² ≈ 1018 pixels.
  const int covered = Covered(picture);
  EXPECT_GT(covered, 900);
  EXPECT_LT(covered, 1150);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* p = picture.Pixel(x, y);
      if (picture.Depth(x, y) < kFarDepth) {
        ASSERT_EQ(p[0], Byte(colour[0])) << x << "," << y;
        ASSERT_EQ(p[1], Byte(colour[1]));
        ASSERT_EQ(p[2], Byte(colour[2]));
      } else {
        ASSERT_EQ(p[0] + p[1] + p[2], 0);  // background
      }
    }
  }
}

// Catches: the specular term added without PHONG.
TEST(ZBufferShading, GouraudNeverShowsAHighlight) {
  const ColourBgr colour{0.3f, 0.3f, 0.3f};
  const float ambiance = 0.2f;
  const auto material = ColourMaterial(colour, ambiance, 1.0f);
  const auto pieces = LathePieces(testing::SphereProfile, 16, 32, 0.0f, {0, 0, 10});
  // Unit normals and a unit light give I ≤ 1, so no pixel can exceed
  // S·1 + S·ambiance; the light at the eye makes PHONG's highlight exceed it.
  const std::uint8_t bound = Byte(colour[0] + colour[0] * ambiance);
  const Picture gouraud = Render(SmallView(kGouraud, 18.0f), *material, pieces);
  int brightest = 0;
  for (int y = 0; y < gouraud.height; ++y) {
    for (int x = 0; x < gouraud.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        brightest = std::max<int>(brightest, gouraud.Pixel(x, y)[c]);
      }
    }
  }
  EXPECT_LE(brightest, bound);
  EXPECT_GE(brightest, bound - 2);  // the centre faces the light
  const Picture phong = Render(SmallView(kPhong, 18.0f), *material, pieces);
  EXPECT_GT(phong.Pixel(32, 24)[0], bound + 100);
}

// Catches: the reflection taken about the wrong vector, the eye vector's
// sign, or −(R·L) mistaken for R·L: the peak then moves or vanishes.
TEST(ZBufferShading, PhongHighlightSitsWhereTheReflectedLightMeetsTheEye) {
  const float scale = 18.0f;
  RenderView view = SmallView(kPhong, scale);
  view.light = Normalized({-0.577f, 0.577f, -0.577f});
  // A black material: only the highlight shows.
  const auto material = ColourMaterial({0.0f, 0.0f, 0.0f}, 0.0f, 0.6f, {0.8f, 0.8f, 0.8f});
  const Picture picture =
      Render(view, *material, LathePieces(testing::SphereProfile, 32, 64, 0.0f, {0, 0, 10}));
  // R = V − 2(N·V)N equals −L when N is along V + L (V = (0, 0, −1)); on a
  // unit sphere that normal is the point's offset from the centre.
  const Vector3 n = Normalized(Vector3{0.0f, 0.0f, -1.0f} + view.light);
  const float expectX = view.cx + n.x * scale - 0.5f;  // column of the pixel centre
  const float expectY = view.cy - n.y * scale - 0.5f;
  int bx = -1, by = -1, best = -1;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (picture.Pixel(x, y)[0] > best) {
        best = picture.Pixel(x, y)[0];
        bx = x;
        by = y;
      }
    }
  }
  EXPECT_GT(best, 150);
  EXPECT_NEAR(bx, expectX, 1.5);
  EXPECT_NEAR(by, expectY, 1.5);
}

// Catches: a specularity at or below 0.005 still giving a highlight.
TEST(ZBufferShading, SpecularityAtTheThresholdGivesNoHighlight) {
  const auto material = ColourMaterial({0.0f, 0.0f, 0.0f}, 0.0f, 0.005f);
  const Picture picture = Render(SmallView(kPhong, 18.0f), *material,
                                 LathePieces(testing::SphereProfile, 16, 32, 0.0f, {0, 0, 10}));
  EXPECT_GT(Covered(picture), 900);
  for (std::uint8_t b : picture.bgr) {
    ASSERT_EQ(b, 0);
  }
}

// Catches: ambiance left out of GOURAUD, or the intensity not max(0, N·L):
// a square facing away from the light shows only S·ambiance.
TEST(ZBufferShading, GouraudIsDiffusePlusAmbiance) {
  RenderView view = SmallView(kGouraud);
  const ColourBgr colour{0.5f, 0.5f, 0.5f};
  const auto material = ColourMaterial(colour, 0.2f);
  Piece lit = ScreenSquare(view, 4, 4, 20, 20, 5);
  Piece unlit = ScreenSquare(view, 30, 4, 50, 20, 5);
  // Normal (0, 1, 0) is perpendicular to the light (0, 0, −1): I = 0.
  unlit.normals.fill({0.0f, 1.0f, 0.0f});
  const Picture picture = Render(view, *material, {lit, unlit});
  EXPECT_EQ(picture.Pixel(10, 10)[0], Byte(0.5f * 1.0f + 0.5f * 0.2f));
  EXPECT_EQ(picture.Pixel(40, 10)[0], Byte(0.5f * 0.2f));
}

// Catches: a patch colour not taking the material colour's place, or taken
// as blue-green-red although the patch holds red, green, blue.
TEST(ZBufferShading, PatchColourReplacesTheMaterialColour) {
  const RenderView view = SmallView(kFlat);
  const auto material = ColourMaterial({0.9f, 0.9f, 0.9f});
  const Vector3 rgb{1.0f, 0.5f, 0.0f};  // orange
  PatchContext patch;
  patch.material = material.get();
  patch.patchColour = &rgb;
  Picture picture;
  picture.Reset(64, 48);
  EXPECT_EQ(RasterizePiece(view, patch, ScreenSquare(view, 10, 10, 20, 20, 5), picture), 1);
  const std::uint8_t* p = picture.Pixel(15, 15);
  EXPECT_EQ(p[0], 0);    // blue
  EXPECT_EQ(p[1], 127);  // green: 0.5 × 255 truncated
  EXPECT_EQ(p[2], 255);  // red
}

// Catches: a Cookie-Cut miss writing the pixel (or undoing the depth the
// test recorded), or a colour map's miss hiding the pixel.
TEST(ZBufferShading, CookieCutMissLeavesWhatWasDrawnBefore) {
  const RenderView view = SmallView(kFlat);
  const auto below = ColourMaterial({0.0f, 0.0f, 1.0f});
  const auto above = ColourMaterial({0.0f, 1.0f, 0.0f});
  Picture picture;
  picture.Reset(64, 48);
  PatchContext a, b;
  a.material = below.get();
  b.material = above.get();
  RasterizePiece(view, a, ScreenSquare(view, 10, 10, 30, 30, 10), picture);
  // A map placed far away: every pixel misses it.
  std::vector<ProjectedMap> maps(1);
  maps[0].kind = map_kind::kCookieCut;
  SegmentShading shading;
  shading.maps = &maps;
  RasterizePiece(view, b, ScreenSquare(view, 20, 10, 40, 30, 5), picture, &shading);
  EXPECT_EQ(picture.Pixel(25, 15)[2], 255);  // still the red drawn before
  EXPECT_EQ(picture.Pixel(25, 15)[1], 0);
  EXPECT_EQ(picture.Depth(25, 15), 5.0f);  // the depth decision stands
  EXPECT_EQ(picture.Pixel(35, 15)[1], 0);  // nothing drawn where only it lay
  EXPECT_EQ(picture.Depth(35, 15), 5.0f);
  // A colour map that misses leaves the material colour.
  maps[0].kind = map_kind::kNormal;
  RasterizePiece(view, b, ScreenSquare(view, 20, 10, 40, 30, 1), picture, &shading);
  EXPECT_EQ(picture.Pixel(35, 15)[1], 255);
}

// Catches: a colour map's blend not mixing the sampled colour with the
// material colour as b·map + (1 − b)·material, or the map sampled with a
// filter that reaches past one texel.
TEST(ZBufferShading, ColourMapBlendsWithTheMaterialColour) {
  const RenderView view = SmallView(kFlat);
  const auto material = ColourMaterial({0.0f, 0.0f, 1.0f});  // red
  auto image = std::make_shared<Image>();
  ASSERT_TRUE(image->Allocate(2, 2, 3));
  for (int y = 0; y < 2; ++y) {
    image->SetBgra(0, y, 0, 255, 0);  // green on the left half
    image->SetBgra(1, y, 255, 0, 0);  // blue on the right half
  }
  std::vector<ProjectedMap> maps(1);
  maps[0].kind = map_kind::kNormal;
  maps[0].blend = 0.5f;
  maps[0].image = image;
  maps[0].size = 20.0f;  // object x −10..10 across the picture, y −10..10 down it
  SegmentShading shading;
  shading.maps = &maps;
  PatchContext patch;
  patch.material = material.get();
  Picture picture;
  picture.Reset(64, 48);
  RasterizePiece(view, patch, ScreenSquare(view, 2, 2, 62, 46, 5), picture, &shading);
  // Column 27 is object x = −5 (left texel): half green, half red.
  EXPECT_EQ(picture.Pixel(27, 24)[0], 0);
  EXPECT_EQ(picture.Pixel(27, 24)[1], Byte(0.5f));
  EXPECT_EQ(picture.Pixel(27, 24)[2], Byte(0.5f));
  // Column 37 is object x = 5 (right texel): half blue, half red.
  EXPECT_EQ(picture.Pixel(37, 24)[0], Byte(0.5f));
  EXPECT_EQ(picture.Pixel(37, 24)[1], 0);
  // Column 50 is object x = 18, off the picture: the material colour.
  EXPECT_EQ(picture.Pixel(50, 24)[2], 255);
  EXPECT_EQ(picture.Pixel(50, 24)[0], 0);
}

// Catches: pattern nodes evaluated without the show-decals flag, or not
// evaluated with it. A checker's cell next to the origin selects its second
// child (pattern value 0), so that child's colour shows with 0x0008 and the
// first leaf's colour without.
TEST(ZBufferShading, PatternNodesGiveTheColourOnlyWithShowDecals) {
  AttributeRecord first, second;
  first.colour = {1.0f, 0.0f, 0.0f};
  second.colour = {0.0f, 0.0f, 1.0f};
  // Blending carries only the values the leaves give.
  first.mask = second.mask = attribute_bits::kBlue | attribute_bits::kGreen | attribute_bits::kRed;
  Material material;
  material.root = std::make_unique<MaterialNode>();
  MaterialNode& root = *material.root;
  root.kind = NodeKind::kChecker;
  root.pattern.scale = {1000.0f, 1000.0f, 1000.0f};
  root.attributes = second;  // what the blend gives in this cell
  root.first = std::make_unique<MaterialNode>();
  root.first->attributes = first;
  root.first->parent = &root;
  root.second = std::make_unique<MaterialNode>();
  root.second->attributes = second;
  root.second->parent = &root;
  PatchContext patch;
  patch.material = &material;
  for (bool decals : {false, true}) {
    const RenderView view = SmallView(kFlat | (decals ? render_flags::kShowDecals : 0));
    Picture picture;
    picture.Reset(64, 48);
    // Object-space points with x, y and z all positive: the checker's cell 0.
    RasterizePiece(view, patch, ScreenSquare(view, 40, 5, 50, 15, 5), picture);
    EXPECT_EQ(picture.Pixel(45, 10)[0], decals ? 0 : 255) << decals;
    EXPECT_EQ(picture.Pixel(45, 10)[2], decals ? 255 : 0) << decals;
  }
}

// Depth.

// Catches: a depth test that lets later pieces win, or "farther than".
TEST(ZBufferDepth, NearerPiecesHideFartherOnesInEitherOrder) {
  const RenderView view = SmallView(kFlat);
  const auto near = ColourMaterial({0.0f, 0.0f, 1.0f});
  const auto far = ColourMaterial({1.0f, 0.0f, 0.0f});
  const Piece nearPiece = ScreenSquare(view, 10, 10, 30, 30, 5);
  const Piece farPiece = ScreenSquare(view, 20, 20, 40, 40, 9);
  for (bool nearFirst : {true, false}) {
    Picture picture;
    picture.Reset(64, 48);
    PatchContext a, b;
    a.material = near.get();
    b.material = far.get();
    if (nearFirst) {
      RasterizePiece(view, a, nearPiece, picture);
      RasterizePiece(view, b, farPiece, picture);
    } else {
      RasterizePiece(view, b, farPiece, picture);
      RasterizePiece(view, a, nearPiece, picture);
    }
    EXPECT_EQ(picture.Pixel(25, 25)[2], 255) << nearFirst;  // overlap: the near red
    EXPECT_EQ(picture.Pixel(25, 25)[0], 0);
    EXPECT_EQ(picture.Pixel(35, 35)[0], 255);  // the far piece alone
    EXPECT_EQ(picture.Depth(25, 25), 5.0f);
  }
}

// Catches: depths interpolated in the wrong direction along a span: a
// sloping square must cross a flat one where their depths are equal.
TEST(ZBufferDepth, DepthIsInterpolatedAcrossTheSpan) {
  const RenderView view = SmallView(kFlat);
  const auto sloped = ColourMaterial({0.0f, 0.0f, 1.0f});
  const auto flat = ColourMaterial({1.0f, 0.0f, 0.0f});
  // Depth 0 at X = 0 to 64 at X = 64, against a flat square at depth 32:
  // columns left of 32 are nearer on the slope.
  Piece slope = ScreenSquare(view, 0, 10, 64, 20, 0);
  slope.corners[1].z = slope.corners[2].z = 64.0f;
  Picture picture;
  picture.Reset(64, 48);
  PatchContext a, b;
  a.material = sloped.get();
  b.material = flat.get();
  RasterizePiece(view, b, ScreenSquare(view, 0, 10, 64, 20, 32), picture);
  RasterizePiece(view, a, slope, picture);
  EXPECT_EQ(picture.Pixel(20, 15)[2], 255);
  EXPECT_EQ(picture.Pixel(44, 15)[0], 255);
  // Pixel x has its centre at x + 0.5 and the span 0..64 counts 65
  // pixels, so depth at column 20 is (20 + 0.5) · 64/65.
  EXPECT_NEAR(picture.Depth(20, 15), 20.5f * 64.0f / 65.0f, 1e-3);
}

// Projection and rejection.

// Catches: off-screen pieces kept and drawn, or reported as failures.
TEST(ZBufferProjection, OffScreenPiecesAreRejectedWithSuccess) {
  const RenderView view = SmallView(kGouraud);
  const auto material = ColourMaterial({0.5f, 0.5f, 0.5f});
  PatchContext patch;
  patch.material = material.get();
  ZBufferRenderer renderer(view, 64, 48, 1);
  renderer.BeginFrame();
  // Wholly right of the picture, left of it, above, below.
  EXPECT_TRUE(renderer.AcceptPiece(patch, ScreenSquare(view, 65, 10, 80, 20, 5)));
  EXPECT_TRUE(renderer.AcceptPiece(patch, ScreenSquare(view, -30, 10, -1, 20, 5)));
  EXPECT_TRUE(renderer.AcceptPiece(patch, ScreenSquare(view, 10, -30, 20, -1, 5)));
  EXPECT_TRUE(renderer.AcceptPiece(patch, ScreenSquare(view, 10, 49, 20, 70, 5)));
  EXPECT_EQ(renderer.PieceCount(), 0u);
  // One corner on the right edge (X = right) is not rejected.
  EXPECT_TRUE(renderer.AcceptPiece(patch, ScreenSquare(view, 64, 10, 80, 20, 5)));
  EXPECT_EQ(renderer.PieceCount(), 1u);
  Picture picture;
  picture.Reset(64, 48);
  EXPECT_EQ(RasterizePiece(view, patch, ScreenSquare(view, 65, 10, 80, 20, 5), picture), 1);
  EXPECT_EQ(Covered(picture), 0);
}

// Catches: corners at or behind z = 1 divided by their own depth (or
// clipped): they must project with w = 0.005 for P0, P1 and 0.0001 for
// P2, P3.
TEST(ZBufferProjection, CornersBehindTheNearPlaneUseTheFixedW) {
  RenderView view = SmallView(kFlat);
  view.f = 100.0f;
  const auto material = ColourMaterial({0.5f, 0.5f, 0.5f});
  PatchContext patch;
  patch.material = material.get();
  Piece piece;
  // X = x/w + 32, Y = 24 − y/w: P0 (−0.05, 0.05)/0.005 → (22, 14),
  // P1 → (42, 14); P2 (0.001, −0.001)/0.0001 → (42, 34), P3 → (22, 34).
  piece.corners = {Vector3{-0.05f, 0.05f, 0.5f}, Vector3{0.05f, 0.05f, 1.0f},
                   Vector3{0.001f, -0.001f, 0.5f}, Vector3{-0.001f, -0.001f, -3.0f}};
  piece.normals.fill({0.0f, 0.0f, -1.0f});
  Picture picture;
  picture.Reset(64, 48);
  EXPECT_EQ(RasterizePiece(view, patch, piece, picture), 1);
  EXPECT_EQ(Covered(picture), 21 * 20);  // columns 22..42, lines 14..33
  EXPECT_LT(picture.Depth(22, 14), kFarDepth);
  EXPECT_LT(picture.Depth(42, 33), kFarDepth);
  for (float d : picture.depth) {
    ASSERT_TRUE(std::isfinite(d));
  }
}

// Catches: a piece projected far beyond the picture (w = 0.0001) looping
// over millions of lines or columns, or a corner that is not a number
// reaching the scan converter.
TEST(ZBufferProjection, HugeAndInvalidProjectionsStayBounded) {
  RenderView view = SmallView(kGouraud);
  view.f = 100.0f;
  const auto material = ColourMaterial({0.5f, 0.5f, 0.5f});
  PatchContext patch;
  patch.material = material.get();
  Piece piece;
  piece.corners = {Vector3{-5000.0f, 5000.0f, 0.5f}, Vector3{5000.0f, 5000.0f, 0.5f},
                   Vector3{5000.0f, -5000.0f, 0.5f}, Vector3{-5000.0f, -5000.0f, 0.5f}};
  piece.normals.fill({0.0f, 0.0f, -1.0f});
  Picture picture;
  picture.Reset(64, 48);
  EXPECT_EQ(RasterizePiece(view, patch, piece, picture), 1);
  EXPECT_EQ(Covered(picture), 64 * 48);
  piece.corners[2].x = std::nanf("");
  picture.Reset(64, 48);
  EXPECT_EQ(RasterizePiece(view, patch, piece, picture), 1);
  EXPECT_EQ(Covered(picture), 0);
}

// Frames, threads and abort.

std::vector<Piece> RandomPieces(int count, int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<Piece> pieces;
  for (int k = 0; k < count; ++k) {
    const float x = unit(random) * width - width / 2.0f;
    const float y = unit(random) * height - height / 2.0f;
    const float size = 3.0f + unit(random) * 40.0f;
    Piece piece;
    for (int c = 0; c < 4; ++c) {
      const float a = 1.5707963f * c + unit(random) * 0.6f;
      piece.corners[c] = {x + size * std::cos(a), y + size * std::sin(a),
                          5.0f + unit(random) * 50.0f};
      piece.normals[c] = Normalized({unit(random) - 0.5f, unit(random) - 0.5f, -unit(random)});
    }
    pieces.push_back(piece);
  }
  return pieces;
}

// Catches: bands drawn in a thread-dependent order or pieces split at band
// borders computed differently from a whole-picture pass.
TEST(ZBufferFrame, OneAndTwoThreadsGiveIdenticalPictures) {
  const auto material = ColourMaterial({0.3f, 0.6f, 0.9f}, 0.1f, 0.7f);
  const auto pieces = RandomPieces(600, 160, 120, 7);
  for (std::uint16_t flags : {kGouraud, kPhong}) {
    const RenderView view = SmallView(flags, 1.0f, 160, 120);
    const Picture one = Render(view, *material, pieces, 1);
    const Picture two = Render(view, *material, pieces, 2);
    const Picture any = Render(view, *material, pieces, 0);
    EXPECT_GT(Covered(one), 160 * 120 / 2);
    EXPECT_EQ(one.bgr, two.bgr);
    EXPECT_EQ(one.depth, two.depth);
    EXPECT_EQ(one.bgr, any.bgr);
    // The same pieces drawn one at a time into the whole picture.
    Picture serial;
    serial.Reset(160, 120);
    PatchContext patch;
    patch.material = material.get();
    for (const Piece& piece : pieces) {
      RasterizePiece(view, patch, piece, serial);
    }
    EXPECT_EQ(one.bgr, serial.bgr);
  }
}

// Catches: batches filled in parallel drawn in the order they were filled
// instead of their index order.
TEST(ZBufferFrame, BatchesAreDrawnInIndexOrder) {
  const RenderView view = SmallView(kFlat);
  const auto first = ColourMaterial({1.0f, 0.0f, 0.0f});
  const auto second = ColourMaterial({0.0f, 1.0f, 0.0f});
  PatchContext a, b;
  a.material = first.get();
  b.material = second.get();
  ZBufferRenderer renderer(view, 64, 48, 2);
  renderer.BeginFrame();
  renderer.Batches(2);
  // Equal depths: the earlier piece keeps the pixel ("nearer than").
  EXPECT_TRUE(renderer.Batch(1).AcceptPiece(b, ScreenSquare(view, 10, 10, 30, 30, 5)));
  EXPECT_TRUE(renderer.Batch(0).AcceptPiece(a, ScreenSquare(view, 10, 10, 30, 30, 5)));
  EXPECT_EQ(renderer.Finish(), kRenderOk);
  EXPECT_EQ(renderer.picture().Pixel(20, 20)[0], 255);
  EXPECT_EQ(renderer.picture().Pixel(20, 20)[1], 0);
}

// Catches: the abort poll ignored, or the piece still drawn.
TEST(ZBufferFrame, AbortStopsWithZero) {
  const RenderView view = SmallView(kGouraud);
  const auto material = ColourMaterial({0.5f, 0.5f, 0.5f});
  PatchContext patch;
  patch.material = material.get();
  Picture picture;
  picture.Reset(64, 48);
  RequestEscape();
  EXPECT_EQ(RasterizePiece(view, patch, ScreenSquare(view, 10, 10, 20, 20, 5), picture), 0);
  EXPECT_EQ(Covered(picture), 0);

  ZBufferRenderer renderer(view, 64, 48, 1);
  renderer.BeginFrame();
  EXPECT_TRUE(renderer.AcceptPiece(patch, ScreenSquare(view, 10, 10, 20, 20, 5)));
  RequestEscape();
  EXPECT_FALSE(renderer.AcceptPiece(patch, ScreenSquare(view, 30, 10, 40, 20, 5)));
  EXPECT_FALSE(renderer.AcceptPiece(patch, ScreenSquare(view, 30, 30, 40, 40, 5)));
  EXPECT_EQ(renderer.Finish(), kRenderAborted);
  EXPECT_EQ(Covered(renderer.picture()), 0);
}

// Golden pictures of a small lathe: a tolerance of 2 per channel allows for
// rounding differences between compilers; 1% of the pixels (30) may differ
// more, along silhouettes.

// Catches: any change of the FLAT picture (coverage, colour).
TEST(ZBufferGolden, FlatLathe) {
  EXPECT_TRUE(testing::MatchesGolden(testing::GoldenLathe(kFlat), "flat_lathe", 2, 30));
}

// Catches: any change of the GOURAUD picture (intensities, interpolation).
TEST(ZBufferGolden, GouraudLathe) {
  EXPECT_TRUE(testing::MatchesGolden(testing::GoldenLathe(kGouraud), "gouraud_lathe", 2, 30));
}

// Catches: any change of the PHONG picture (normal interpolation, highlight).
TEST(ZBufferGolden, PhongLathe) {
  EXPECT_TRUE(testing::MatchesGolden(testing::GoldenLathe(kPhong), "phong_lathe", 2, 30));
}

}  // namespace
}  // namespace zentrope

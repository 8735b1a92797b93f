// Decals: which mapped patch a piece lies on, where a patch point falls in
// the decal picture, and the picture and mask there.
#include "material/decal.h"

#include <gtest/gtest.h>

#include <string>

#include "model/patch_finder.h"
#include "model/segment_file.h"
#include "model/segment_registry.h"

namespace zentrope {
namespace {

MappedPatch Mapped(PatchKey key) {
  MappedPatch m;
  m.key = key;
  return m;
}

TEST(FindMappedPatchTest, MatchesTheFirstTwoCornerWordsInOrder) {
  SurfaceMap decal;
  decal.patches = {Mapped({5, 6, 7, 8}), Mapped({1, 2, 3, 4}), Mapped({1, 2, 9, 9})};
  // Catches: the key compared from its other end, or all four numbers
  // demanded (the last two are not part of the match).
  EXPECT_EQ(FindMappedPatch(decal, {1, 2, 0, 0}), &decal.patches[1]);
  EXPECT_EQ(FindMappedPatch(decal, {5, 6, 8, 7}), &decal.patches[0]);
  // Catches: the two numbers matched in either order.
  EXPECT_EQ(FindMappedPatch(decal, {2, 1, 3, 4}), nullptr);
  EXPECT_EQ(FindMappedPatch(decal, {6, 7, 8, 5}), nullptr);
  SurfaceMap empty;
  EXPECT_EQ(FindMappedPatch(empty, {1, 2, 3, 4}), nullptr);
}

// The example panel: a 3 × 3 grid of stacked points making four patches,
// its decal mapped onto the top two. The keys in its .sur file were written
// from the patches' corner numbers, so every found patch of the top row
// must find its mapped patch by its own corner numbers, and no other patch.
TEST(FindMappedPatchTest, ThePatchSearchKeysFindTheExampleDecal) {
  SegmentRegistry registry;
  Result<Segment> seg =
      OpenSegment(std::string(ZENTROPE_SOURCE_DIR) + "/examples/maps/panel.seg", registry);
  ASSERT_TRUE(seg) << seg.failure().detail;
  ASSERT_EQ(EnsurePatches(*seg), PatchSearch::kDone);
  ASSERT_EQ(seg->surfaceMaps.size(), 1u);
  const SurfaceMap& decal = seg->surfaceMaps[0];
  int found = 0;
  for (const Patch& p : seg->patches) {
    const MappedPatch* m = FindMappedPatch(decal, p.cornerNumbers);
    const bool top = p.corners[0]->position.y > 0.0f || p.corners[2]->position.y > 0.0f;
    // Catches: corner words and keys taken in different orders.
    EXPECT_EQ(m != nullptr, top);
    if (!m) {
      continue;
    }
    ++found;
    // Corner i of the patch lands on Di: the decal spans x −10..10 over its
    // 16 columns and y 10..0 over its 16 rows.
    const std::array<std::array<float, 2>, 4> uv{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}};
    for (int i = 0; i < 4; ++i) {
      const Vector3& c = p.corners[static_cast<std::size_t>(i)]->position;
      const std::array<float, 2> at = DecalPosition(*m, uv[i][0], uv[i][1]);
      EXPECT_NEAR(at[0], (c.x + 10.0f) * 16.0f / 20.0f, 1e-4f) << "corner " << i + 1;
      EXPECT_NEAR(at[1], (10.0f - c.y) * 16.0f / 10.0f, 1e-4f) << "corner " << i + 1;
    }
  }
  EXPECT_EQ(found, 2);
}

MappedPatch Corners(const std::array<Vector3, 4>& d) {
  MappedPatch m;
  for (std::size_t i = 0; i < 4; ++i) {
    m.coords[i * 3] = d[i];
  }
  return m;
}

TEST(DecalPositionTest, CornersAreExact) {
  MappedPatch m = Corners({{{3, 5, 0}, {29, 7, 0}, {31, 41, 0}, {2, 37, 0}}});
  // Curved boundaries: the corners must still be met exactly.
  for (std::size_t i = 0; i < 4; ++i) {
    m.coords[i * 3 + 1] = {7.5f, -3.25f, 0};
    m.coords[i * 3 + 2] = {-1.75f, 11.0f, 0};
  }
  // Catches: corners taken in the key's order (starting from the second
  // corner) or D3 and D4 exchanged.
  EXPECT_EQ(DecalPosition(m, 0, 0), (std::array<float, 2>{3, 5}));
  EXPECT_EQ(DecalPosition(m, 1, 0), (std::array<float, 2>{29, 7}));
  EXPECT_EQ(DecalPosition(m, 1, 1), (std::array<float, 2>{31, 41}));
  EXPECT_EQ(DecalPosition(m, 0, 1), (std::array<float, 2>{2, 37}));
}

TEST(DecalPositionTest, NoTangentsIsBilinear) {
  const MappedPatch m = Corners({{{0, 0, 0}, {16, 0, 0}, {20, 12, 0}, {0, 8, 0}}});
  // Catches: zero tangents read as a cubic with flat ends (smoothstep),
  // which bunches the picture towards the corners.
  const std::array<float, 2> q = DecalPosition(m, 0.25f, 0);
  EXPECT_NEAR(q[0], 4.0f, 1e-5f);
  EXPECT_NEAR(q[1], 0.0f, 1e-5f);
  // The middle is the corners' average.
  const std::array<float, 2> c = DecalPosition(m, 0.5f, 0.5f);
  EXPECT_NEAR(c[0], 9.0f, 1e-5f);
  EXPECT_NEAR(c[1], 5.0f, 1e-5f);
  // Bilinear at (0.25, 0.75): bottom (4, 0), top (5, 9), blend 0.75.
  const std::array<float, 2> b = DecalPosition(m, 0.25f, 0.75f);
  EXPECT_NEAR(b[0], 4.75f, 1e-5f);
  EXPECT_NEAR(b[1], 6.75f, 1e-5f);
}

TEST(DecalPositionTest, TangentsBendTheBoundary) {
  MappedPatch m = Corners({{{0, 0, 0}, {16, 0, 0}, {16, 16, 0}, {0, 16, 0}}});
  // The bottom edge leaves D1 along (0, 8) and arrives at D2 along (0, −8):
  // the Bézier (0,0), (0, 8/3), (16, 8/3), (16, 0), whose middle is (8, 2).
  m.coords[1] = {0, 8, 0};
  m.coords[4] = {0, -8, 0};
  // Catches: E taken as the v tangent, or tangents not scaled by one third.
  const std::array<float, 2> mid = DecalPosition(m, 0.5f, 0);
  EXPECT_FLOAT_EQ(mid[0], 8.0f);
  EXPECT_FLOAT_EQ(mid[1], 2.0f);
  // The top edge is straight: its middle stays (8, 16).
  const std::array<float, 2> top = DecalPosition(m, 0.5f, 1);
  EXPECT_FLOAT_EQ(top[0], 8.0f);
  EXPECT_FLOAT_EQ(top[1], 16.0f);
  // Half way up, the bulge is blended by half: (8, 8 + 1).
  const std::array<float, 2> inside = DecalPosition(m, 0.5f, 0.5f);
  EXPECT_FLOAT_EQ(inside[0], 8.0f);
  EXPECT_FLOAT_EQ(inside[1], 9.0f);
}

// A 4 × 4 picture whose pixel (x, y) has blue 10x and green 10y.
std::shared_ptr<Image> Picture(int w, int h, int bpp = 3) {
  auto image = std::make_shared<Image>();
  EXPECT_TRUE(image->Allocate(w, h, bpp));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image->SetBgra(x, y, static_cast<std::uint8_t>(10 * x), static_cast<std::uint8_t>(10 * y),
                     200, 255);
    }
  }
  return image;
}

TEST(SampleDecalTest, PixelsAndEdges) {
  SurfaceMap decal;
  decal.image = Picture(4, 4);
  // Catches: rounding to the nearest pixel instead of the one containing
  // the position, or x and y exchanged.
  MapSample s = SampleDecal(decal, 1.5f, 2.9f, 1);
  ASSERT_TRUE(s.hit);
  EXPECT_FLOAT_EQ(s.colour[0], 10 / 255.0f);
  EXPECT_FLOAT_EQ(s.colour[1], 20 / 255.0f);
  EXPECT_FLOAT_EQ(s.colour[2], 200 / 255.0f);
  EXPECT_FLOAT_EQ(s.alpha, 1.0f);
  // The far edges belong to the last pixels (a decal mapped edge to edge).
  s = SampleDecal(decal, 4.0f, 4.0f, 1);
  ASSERT_TRUE(s.hit);
  EXPECT_FLOAT_EQ(s.colour[0], 30 / 255.0f);
  // Catches: a position outside the picture clamped onto it.
  EXPECT_FALSE(SampleDecal(decal, -0.01f, 1, 1).hit);
  EXPECT_FALSE(SampleDecal(decal, 4.01f, 1, 1).hit);
  EXPECT_FALSE(SampleDecal(decal, 1, 4.01f, 1).hit);
  EXPECT_FALSE(SampleDecal(decal, 1, -3, 1).hit);
  SurfaceMap none;
  EXPECT_FALSE(SampleDecal(none, 0, 0, 1).hit);
}

TEST(SampleDecalTest, AlphaAndMaskDecideHits) {
  SurfaceMap decal;
  decal.image = Picture(4, 4, 4);
  decal.image->SetBgra(2, 0, 1, 2, 3, 127);
  decal.image->SetBgra(3, 0, 1, 2, 3, 128);
  // Catches: the picture's own alpha ignored, or the threshold misplaced
  // (127 is just under one half, 128 just over).
  EXPECT_FALSE(SampleDecal(decal, 2.5f, 0.5f, 1).hit);
  EXPECT_TRUE(SampleDecal(decal, 3.5f, 0.5f, 1).hit);
  EXPECT_TRUE(SampleDecal(decal, 0.5f, 0.5f, 1).hit);

  // A grey 2 × 2 mask over the 4 × 4 picture: left column white, right
  // column 127 above and 128 below.
  auto mask = std::make_shared<Image>();
  ASSERT_TRUE(mask->Allocate(2, 2, 1));
  mask->Plane(0, 0)[0] = 255;
  mask->Plane(0, 0)[1] = 127;
  mask->Plane(1, 0)[0] = 255;
  mask->Plane(1, 0)[1] = 128;
  decal.image = Picture(4, 4);
  decal.second = mask;
  decal.imageCount = 2;
  // Catches: the mask sampled at picture pixels without scaling, or not
  // used at all (every pixel of a picture without alpha would hit).
  EXPECT_TRUE(SampleDecal(decal, 1.5f, 1.5f, 1).hit);
  EXPECT_FALSE(SampleDecal(decal, 2.5f, 1.5f, 1).hit);
  EXPECT_TRUE(SampleDecal(decal, 3.5f, 3.5f, 1).hit);
  const MapSample masked = SampleDecal(decal, 3.5f, 2.5f, 1);
  EXPECT_TRUE(masked.hit);
  EXPECT_FLOAT_EQ(masked.alpha, 128 / 255.0f);
  // The colour still comes from the picture.
  EXPECT_FLOAT_EQ(masked.colour[0], 30 / 255.0f);
  // An image count of 1 means no mask, whatever is held.
  decal.imageCount = 1;
  EXPECT_TRUE(SampleDecal(decal, 2.5f, 1.5f, 1).hit);
}

}  // namespace
}  // namespace zentrope

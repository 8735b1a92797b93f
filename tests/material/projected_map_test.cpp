// Projected maps: where a point lands in the picture for each projection,
// the bump rule, and loading maps as an attribute file stores them.
#include "material/projected_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "figure/attribute_file.h"
#include "image/image_file.h"
#include "model/text_file.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::TempDir;

// A picture whose pixel (x, y) has blue x and green y, so a sample names the
// pixel it read; red is 7 everywhere.
std::shared_ptr<Image> IndexPicture(int w, int h) {
  auto image = std::make_shared<Image>();
  EXPECT_TRUE(image->Allocate(w, h, 3));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image->SetBgra(x, y, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7);
    }
  }
  return image;
}

ProjectedMap MapOf(std::shared_ptr<Image> image, Projection projection, float size) {
  ProjectedMap map;
  map.image = std::move(image);
  map.projection = projection;
  map.size = size;
  return map;
}

// The pixel a sample read, from its blue and green; (−1, −1) for a miss.
std::pair<int, int> PixelAt(const ProjectedMap& map, const Vector3& p) {
  const MapSample s = SampleProjectedMap(map, p, 1, 0.0f);
  if (!s.hit) {
    return {-1, -1};
  }
  return {static_cast<int>(std::lround(s.colour[0] * 255.0f)),
          static_cast<int>(std::lround(s.colour[1] * 255.0f))};
}

using Px = std::pair<int, int>;

// A 4 × 2 picture 8 units wide: 2 units a pixel, so x runs −4..4 and y −2..2
// (row 0 at the top, +y).
TEST(PlanarMapTest, CornersCentreAndOutside) {
  const ProjectedMap map = MapOf(IndexPicture(4, 2), Projection::kPlanar, 8.0f);
  // Catches: rows counted from the bottom, columns mirrored, or a size taken
  // as half the width.
  EXPECT_EQ(PixelAt(map, {-3.9f, 1.9f, 0}), Px(0, 0));
  EXPECT_EQ(PixelAt(map, {3.9f, 1.9f, 5}), Px(3, 0));
  EXPECT_EQ(PixelAt(map, {3.9f, -1.9f, -5}), Px(3, 1));
  EXPECT_EQ(PixelAt(map, {-3.9f, -1.9f, 0}), Px(0, 1));
  // The centre is the picture's middle: column 4/2, row 2/2.
  EXPECT_EQ(PixelAt(map, {0, 0, 0}), Px(2, 1));
  // Catches: a point beyond the rectangle clamped onto its edge instead of
  // missing (the right edge itself is past the last column).
  EXPECT_EQ(PixelAt(map, {4.1f, 0, 0}), Px(-1, -1));
  EXPECT_EQ(PixelAt(map, {4.0f, 0, 0}), Px(-1, -1));
  EXPECT_EQ(PixelAt(map, {-4.1f, 0, 0}), Px(-1, -1));
  EXPECT_EQ(PixelAt(map, {0, 2.1f, 0}), Px(-1, -1));
  EXPECT_EQ(PixelAt(map, {0, -2.1f, 0}), Px(-1, -1));
}

TEST(PlanarMapTest, ColourOrderAndAlpha) {
  auto image = std::make_shared<Image>();
  ASSERT_TRUE(image->Allocate(1, 1, 4));
  image->SetBgra(0, 0, 10, 20, 30, 40);
  ProjectedMap map = MapOf(image, Projection::kPlanar, 2.0f);
  // Catches: colours handed back red first, or the picture's alpha dropped.
  MapSample s = SampleProjectedMap(map, {0, 0, 0}, 1, 0.0f);
  ASSERT_TRUE(s.hit);
  EXPECT_FLOAT_EQ(s.colour[0], 10 / 255.0f);
  EXPECT_FLOAT_EQ(s.colour[1], 20 / 255.0f);
  EXPECT_FLOAT_EQ(s.colour[2], 30 / 255.0f);
  EXPECT_FLOAT_EQ(s.alpha, 40 / 255.0f);
  // Catches: a picture without alpha read as transparent (ImagePixel gives 0).
  map.image = IndexPicture(1, 1);
  s = SampleProjectedMap(map, {0, 0, 0}, 1, 0.0f);
  ASSERT_TRUE(s.hit);
  EXPECT_FLOAT_EQ(s.alpha, 1.0f);
}

TEST(PlanarMapTest, PlacementMovesAndTurnsTheMap) {
  ProjectedMap map = MapOf(IndexPicture(4, 2), Projection::kPlanar, 8.0f);
  // Centre moved to x = 10: the point there is the picture's middle.
  map.placement = MapPlacement({0, 0, 0, 10, 0, 0});
  // Catches: the translation added instead of taken off the point.
  EXPECT_EQ(PixelAt(map, {10, 0, 0}), Px(2, 1));
  EXPECT_EQ(PixelAt(map, {6.1f, 1.9f, 0}), Px(0, 0));
  EXPECT_EQ(PixelAt(map, {0, 0, 0}), Px(-1, -1));
  // Half a turn about y (the third angle) mirrors x whatever its sense.
  map.placement = MapPlacement({0, 0, 180, 0, 0, 0});
  // Catches: the rotation ignored, or the angles read in another order
  // (about x the same turn would mirror y instead).
  EXPECT_EQ(PixelAt(map, {-3.9f, 1.9f, 0}), Px(3, 0));
  // Placed before it is turned: the centre at x = 2 is the middle again.
  map.placement = MapPlacement({0, 0, 180, 2, 0, 0});
  EXPECT_EQ(PixelAt(map, {2, 0, 0}), Px(2, 1));
  EXPECT_EQ(PixelAt(map, {-1.9f, 1.9f, 0}), Px(3, 0));
}

// An 8 × 4 picture, 8 units wide: its band is 4 units high (y −2..2); eight
// columns of 45 degrees each from +z turning towards +x.
TEST(CylindricalMapTest, WrapsAroundAndMissesAboveAndBelow) {
  ProjectedMap map = MapOf(IndexPicture(8, 4), Projection::kCylindrical, 8.0f);
  EXPECT_EQ(PixelAt(map, {0, 1.9f, 5}), Px(0, 0));
  EXPECT_EQ(PixelAt(map, {5, 0, 0}), Px(2, 2));   // 90 degrees
  EXPECT_EQ(PixelAt(map, {0, 0, -5}), Px(4, 2));  // 180 degrees
  EXPECT_EQ(PixelAt(map, {-5, 0, 0}), Px(6, 2));  // 270 degrees
  // Catches: negative angles from atan2 not wrapped to the last columns.
  const float a = 1.0f * std::numbers::pi_v<float> / 180.0f;
  EXPECT_EQ(PixelAt(map, {-5 * std::sin(a), 0, 5 * std::cos(a)}), Px(7, 2));
  // Catches: a full turn of the map not landing on the same column as none
  // (an angle that rounds to one whole turn must give column 0, not 8).
  map.placement = MapPlacement({0, 0, 360, 0, 0, 0});
  EXPECT_EQ(PixelAt(map, {0, 0, 5}), Px(0, 2));
  map.placement = MapPlacement({0, 0, 0, 0, 0, 0});
  // The radius does not matter, only the angle.
  EXPECT_EQ(PixelAt(map, {0, 0, 500}), Px(0, 2));
  // Catches: a point above or below the band clamped onto it.
  EXPECT_EQ(PixelAt(map, {0, 2.1f, 5}), Px(-1, -1));
  EXPECT_EQ(PixelAt(map, {0, -2.1f, 5}), Px(-1, -1));
}

TEST(SphericalMapTest, PolesEquatorAndCentre) {
  const ProjectedMap map = MapOf(IndexPicture(8, 4), Projection::kSpherical, 8.0f);
  // Latitude +90 is the top row, −90 the bottom one (not one past it).
  // Catches: the south pole falling off the picture (row 4 of 4).
  EXPECT_EQ(PixelAt(map, {0, 5, 0}).second, 0);
  EXPECT_EQ(PixelAt(map, {0, -5, 0}).second, 3);
  // The equator is half way down; longitude as the cylinder's.
  EXPECT_EQ(PixelAt(map, {0, 0, 5}), Px(0, 2));
  EXPECT_EQ(PixelAt(map, {5, 0, 0}), Px(2, 2));
  // 45 degrees up: a quarter of the way down, row 1.
  EXPECT_EQ(PixelAt(map, {0, 3, 3.01f}), Px(0, 1));
  // Catches: the centre (no direction) dividing by a zero radius.
  EXPECT_EQ(PixelAt(map, {0, 0, 0}).second, 0);
}

TEST(ProjectedMapTest, FootprintAveragesNeighbours) {
  // A white centre among black pixels.
  auto image = std::make_shared<Image>();
  ASSERT_TRUE(image->Allocate(3, 3, 3));
  image->SetBgra(1, 1, 255, 255, 255);
  ProjectedMap map = MapOf(image, Projection::kPlanar, 3.0f);
  // Catches: a filter of one pixel or less not sampling the nearest pixel.
  EXPECT_FLOAT_EQ(SampleProjectedMap(map, {0, 0, 0}, 1, 0.0f).colour[0], 1.0f);
  // footprint × width / (span + 1) = 1 × 3 / 1: a 3 × 3 box, one ninth.
  // Catches: a large footprint ignored (a distant map shimmering).
  EXPECT_NEAR(SampleProjectedMap(map, {0, 0, 0}, 1, 1.0f).colour[0], 1.0f / 9.0f, 1e-6f);
  // A sequence of three pictures divides by three: one pixel again.
  map.firstFrame = 1;
  map.lastFrame = 3;
  EXPECT_FLOAT_EQ(SampleProjectedMap(map, {0, 0, 0}, 1, 1.0f).colour[0], 1.0f);
}

// A 3 × 3 grey picture, 3 units wide: the origin samples its centre (1, 1).
ProjectedMap GreyBump(const std::array<std::uint8_t, 9>& grey, float blend) {
  auto image = std::make_shared<Image>();
  EXPECT_TRUE(image->Allocate(3, 3, 1));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) {
      image->Plane(y, 0)[x] = grey[static_cast<std::size_t>(y * 3 + x)];
    }
  }
  ProjectedMap map = MapOf(image, Projection::kPlanar, 3.0f);
  map.kind = map_kind::kBump;
  map.blend = blend;
  return map;
}

Vector3 Expected(float du, float dv, float blend) {
  Vector3 n{-du * blend, -dv * blend, 1.0f};
  return n / std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
}

TEST(BumpMapTest, LowerNeighboursThenHigherThenFlat) {
  // Centre 80, one column lower 100, one row lower 60.
  {
    const ProjectedMap map = GreyBump({0, 60, 0, 100, 80, 0, 0, 0, 0}, 0.5f);
    Vector3 n{0, 0, 1};
    // Catches: the differences taken the other way round, the blend left
    // out, or the result not normalised.
    ASSERT_TRUE(BumpNormal(map, {0, 0, 0}, 1, n));
    const Vector3 e = Expected(20 / 255.0f, -20 / 255.0f, 0.5f);
    EXPECT_NEAR(n.x, e.x, 1e-6f);
    EXPECT_NEAR(n.y, e.y, 1e-6f);
    EXPECT_NEAR(n.z, e.z, 1e-6f);
  }
  // Lower neighbours equal to the centre: one column higher 50, one row
  // higher 140, so du = 80 − 50 and dv = 80 − 140.
  {
    const ProjectedMap map = GreyBump({0, 80, 0, 80, 80, 50, 0, 140, 0}, 1.0f);
    Vector3 n{0, 0, 1};
    // Catches: no fallback to the higher neighbours (the normal left flat).
    ASSERT_TRUE(BumpNormal(map, {0, 0, 0}, 1, n));
    const Vector3 e = Expected(30 / 255.0f, -60 / 255.0f, 1.0f);
    EXPECT_NEAR(n.x, e.x, 1e-6f);
    EXPECT_NEAR(n.y, e.y, 1e-6f);
  }
  // All equal around the centre: untouched, even an unnormalised normal.
  {
    const ProjectedMap map = GreyBump({9, 80, 9, 80, 80, 80, 9, 80, 9}, 1.0f);
    Vector3 n{0, 0, 2};
    // Catches: a flat spot renormalising or changing the normal.
    EXPECT_FALSE(BumpNormal(map, {0, 0, 0}, 1, n));
    EXPECT_EQ(n, (Vector3{0, 0, 2}));
  }
  // A point off the picture leaves the normal alone.
  {
    const ProjectedMap map = GreyBump({0, 60, 0, 100, 80, 0, 0, 0, 0}, 1.0f);
    Vector3 n{0, 0, 1};
    EXPECT_FALSE(BumpNormal(map, {5, 0, 0}, 1, n));
    EXPECT_EQ(n, (Vector3{0, 0, 1}));
  }
}

TEST(BumpMapTest, ComparesTheThirdColourComponent) {
  // Blue and green vary, red (the third component) does not.
  auto image = std::make_shared<Image>();
  ASSERT_TRUE(image->Allocate(3, 3, 3));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) {
      image->SetBgra(x, y, static_cast<std::uint8_t>(40 * x), static_cast<std::uint8_t>(50 * y),
                     90);
    }
  }
  ProjectedMap map = MapOf(image, Projection::kPlanar, 3.0f);
  Vector3 n{0, 0, 1};
  // Catches: the bump read from the first (blue) component.
  EXPECT_FALSE(BumpNormal(map, {0, 0, 0}, 1, n));
  image->SetBgra(0, 1, 0, 50, 255);
  EXPECT_TRUE(BumpNormal(map, {0, 0, 0}, 1, n));
  EXPECT_LT(n.x, 0.0f);
}

// Writes a one-pixel Targa of a colour.
void WritePicture(const std::filesystem::path& file, std::uint8_t blue) {
  Image image;
  ASSERT_TRUE(image.Allocate(1, 1, 3));
  image.SetBgra(0, 0, blue, 0, 0);
  ASSERT_TRUE(SaveTarga(image, file.string(), false));
}

float BlueAt(const ProjectedMap& map) {
  return SampleProjectedMap(map, {0, 0, 0}, 1, 0.0f).colour[0] * 255.0f;
}

TEST(LoadProjectedMapsTest, StoredFieldsBecomeTheMap) {
  TempDir dir;
  WritePicture(dir / "wood2.tga", 11);
  ProjectionMap stored;
  stored.type = map_kind::kCookieCut;
  stored.secondType = 1;
  stored.amount = 1.5f;
  stored.settings = {0, 0, 0, 3, 4, 5};
  stored.imagePath = "wood2.tga";
  ProjectionMap odd = stored;
  odd.type = map_kind::kDiffuse;
  odd.secondType = 7;
  odd.amount = -0.25f;
  Result<std::vector<ProjectedMap>> maps = LoadProjectedMaps({stored, odd}, dir.path(), 7, 6.0f);
  ASSERT_TRUE(maps) << maps.failure().detail;
  ASSERT_EQ(maps->size(), 2u);
  const ProjectedMap& m = (*maps)[0];
  // Catches: kind and projection taken from the wrong stored fields, or a
  // blend outside 0..1 kept.
  EXPECT_EQ(m.kind, map_kind::kCookieCut);
  EXPECT_EQ(m.projection, Projection::kCylindrical);
  EXPECT_FLOAT_EQ(m.blend, 1.0f);
  EXPECT_FLOAT_EQ(m.size, 6.0f);
  EXPECT_EQ(m.placement.TranslateThenApply({3, 4, 5}), (Vector3{0, 0, 0}));
  // Catches: a single picture whose name ends in digits replaced by the
  // frame number (wood7.tga) although it is no sequence.
  ASSERT_TRUE(m.image);
  const MapSample s = SampleProjectedMap((*maps)[1], {3, 4, 5}, 7, 0.0f);
  ASSERT_TRUE(s.hit);
  EXPECT_FLOAT_EQ(s.colour[0] * 255.0f, 11.0f);
  EXPECT_EQ((*maps)[1].projection, Projection::kPlanar);  // unknown projection
  EXPECT_FLOAT_EQ((*maps)[1].blend, 0.0f);
  // A missing picture fails the load with the image error.
  stored.imagePath = "none.tga";
  Result<std::vector<ProjectedMap>> missing = LoadProjectedMaps({stored}, dir.path());
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.failure().detail.find("none.tga"), std::string::npos);
  // A map without a picture changes nothing and is left out.
  stored.imagePath.clear();
  Result<std::vector<ProjectedMap>> none = LoadProjectedMaps({stored}, dir.path());
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(LoadProjectedMapsTest, SequencesFollowTheFrameWithinTheirRange) {
  TempDir dir;
  WritePicture(dir / "take1.tga", 1);
  WritePicture(dir / "take2.tga", 2);
  WritePicture(dir / "take03.tga", 3);  // the zero-padded spelling
  ProjectionMap stored;
  stored.values = {1, 3};
  stored.amount = 1.0f;
  stored.imagePath = "take00.tga";
  Result<std::vector<ProjectedMap>> maps = LoadProjectedMaps({stored}, dir.path(), 2, 20.0f);
  ASSERT_TRUE(maps) << maps.failure().detail;
  ProjectedMap& m = (*maps)[0];
  // Catches: the sequence loaded at its base name instead of the frame's.
  EXPECT_FLOAT_EQ(BlueAt(m), 2.0f);
  ASSERT_TRUE(PrepareMapFrame(m, 1));
  EXPECT_FLOAT_EQ(BlueAt(m), 1.0f);
  // Catches: the second spelling (leading zeros, the base name's width) not
  // tried.
  ASSERT_TRUE(PrepareMapFrame(m, 3));
  EXPECT_FLOAT_EQ(BlueAt(m), 3.0f);
  // Catches: frames past the range asking for pictures that do not exist.
  EXPECT_EQ(SequenceNumber(m, 40), 3);
  EXPECT_EQ(SequenceNumber(m, -2), 1);
  ASSERT_TRUE(PrepareMapFrame(m, 40));
  EXPECT_FLOAT_EQ(BlueAt(m), 3.0f);
}

// The example figure's attribute file places the 16 × 16 checker (cells of
// 4 pixels, white and blue 32, green 32, red 192) over the 20-unit panel.
TEST(LoadProjectedMapsTest, TheExampleFigureMapCoversThePanel) {
  const std::filesystem::path folder = std::filesystem::path(ZENTROPE_SOURCE_DIR) / "examples/maps";
  const std::string path = (folder / "panel.att").string();
  std::string contents, error;
  ASSERT_TRUE(LoadDocumentText(path, contents, &error)) << error;
  Result<AttributeFileContents> file = ParseAttributeFile(std::move(contents), path);
  ASSERT_TRUE(file) << file.failure().detail;
  ASSERT_EQ(file->records.size(), 1u);
  Result<std::vector<ProjectedMap>> maps =
      LoadProjectedMaps(file->records[0].second.surfaces, folder);
  ASSERT_TRUE(maps) << maps.failure().detail;
  ASSERT_EQ(maps->size(), 1u);
  const ProjectedMap& m = (*maps)[0];
  EXPECT_EQ(m.kind, map_kind::kNormal);
  EXPECT_EQ(m.projection, Projection::kPlanar);
  EXPECT_FLOAT_EQ(m.blend, 0.75f);
  // 1.25 units a pixel: the top-left corner is a white cell, 5 units to the
  // right the next (red) cell starts, and the bottom-right cell is white.
  // Catches: the example's picture not spanning the panel as the README
  // says.
  EXPECT_FLOAT_EQ(SampleProjectedMap(m, {-9.9f, 9.9f, 0}, 1, 0).colour[2], 1.0f);
  EXPECT_FLOAT_EQ(SampleProjectedMap(m, {-4.9f, 9.9f, 0}, 1, 0).colour[2], 192 / 255.0f);
  EXPECT_FLOAT_EQ(SampleProjectedMap(m, {9.9f, -9.9f, 0}, 1, 0).colour[2], 1.0f);
  EXPECT_FALSE(SampleProjectedMap(m, {10.1f, 0, 0}, 1, 0).hit);
}

}  // namespace
}  // namespace zentrope

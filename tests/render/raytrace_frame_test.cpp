// Tests of raytrace_frame: the pixel loops with synthetic samplers, the
// multi-pass rules, and the frame renderer's files.
#include "render/raytrace_frame.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "../support/file_limits.h"
#include "../support/temp_dir.h"
#include "image/image.h"
#include "image/image_file.h"
#include "image/targa.h"
#include "material/material.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"

namespace zentrope {
namespace {

using testing::TempDir;

RaytraceSettings SettingsFor(int width, int height, int threads = 1) {
  RaytraceSettings s;
  s.rect = RaytraceRect::ForPicture(width, height);
  s.threads = threads;
  return s;
}

RaySample Hit(float grey, float distance = 10.0f, float transmission = 0.0f) {
  RaySample s;
  s.colour = s.unshadowed = {grey, grey, grey};
  s.distance = distance;
  s.transmission = transmission;
  return s;
}

RaySample Miss(float grey = 0.0f) {
  RaySample s;
  s.colour = s.unshadowed = {grey, grey, grey};
  return s;
}

const std::uint8_t* PixelAt(const RaytraceImage& image, int column, int row) {
  return &image.bgra[(static_cast<std::size_t>(row) * image.width + column) * 4];
}

// Samples traced, in order (single thread).
struct Recorder {
  std::vector<std::pair<float, float>> calls;
  std::mutex mutex;
  void Note(float x, float y) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.emplace_back(x, y);
  }
};

// ---- The plain loop ----------------------------------------------------

// Catches: a second sample taken below the threshold of 8 levels or missed
// at it, or taken anywhere but half a pixel to the left.
TEST(PlainLoop, SecondSampleOnlyWhereNeighboursDifferByEight) {
  // Levels per column (0..255 scale); differences to the left neighbour:
  // −, 7.9, 8.1, 0, −16, 0, −7.8, 8.1 → second samples in columns 2, 4, 7.
  const std::vector<float> levels = {100.0f, 107.9f, 116.0f, 116.0f, 100.0f, 100.0f, 92.2f, 100.3f};
  RaytraceSettings s = SettingsFor(8, 1);
  Recorder rec;
  const PixelSampler sampler = [&](float x, float y, RayPath&) {
    rec.Note(x, y);
    if (x != std::floor(x)) {
      return Hit(0.0f);  // second samples are black
    }
    return Hit(levels[static_cast<std::size_t>(x - s.rect.firstColumn)] / 255.0f);
  };
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TracePlainLoop(s, sampler, image, stats), 0);
  EXPECT_EQ(stats.extraSamples, 3u);
  std::vector<float> second;
  for (const auto& [x, y] : rec.calls) {
    if (x != std::floor(x)) {
      second.push_back(x);
    }
  }
  // Columns 2, 4, 7 are x = −2, 0, 3.
  EXPECT_EQ(second, (std::vector<float>{-2.5f, -0.5f, 2.5f}));
  // Kept pixels are their sample; averaged ones half their level (the
  // second sample is black): 116 / 2 = 58, 100 / 2 = 50, 100.3 / 2 → 50.
  EXPECT_EQ(PixelAt(image, 1, 0)[0], 108);
  EXPECT_EQ(PixelAt(image, 2, 0)[0], 58);
  EXPECT_EQ(PixelAt(image, 3, 0)[0], 116);
  EXPECT_EQ(PixelAt(image, 4, 0)[0], 50);
  EXPECT_EQ(PixelAt(image, 6, 0)[0], 92);
  EXPECT_EQ(PixelAt(image, 7, 0)[0], 50);
}

// Catches: misses compared with misses (the coverage condition), or a hit
// after a miss not compared.
TEST(PlainLoop, ComparesOnlyWhenThisOrThePreviousPixelIsCovered) {
  // Misses of changing colour, then a bright hit, then a miss.
  RaytraceSettings s = SettingsFor(5, 1);
  const std::vector<RaySample> row = {Miss(0.0f), Miss(0.5f), Miss(1.0f), Hit(0.0f), Miss(1.0f)};
  const PixelSampler sampler = [&](float x, float, RayPath&) {
    const int column = static_cast<int>(std::ceil(x)) - s.rect.firstColumn;
    return row[static_cast<std::size_t>(column)];
  };
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TracePlainLoop(s, sampler, image, stats), 0);
  // Columns 1 and 2: both misses, no compare. Column 3: a hit after a miss
  // 255 levels apart. Column 4: a miss after a hit.
  EXPECT_EQ(stats.extraSamples, 2u);
}

// Catches: colour, depth or transmission not averaged over the two
// samples, or a miss's 1e8 taken into the mean depth.
TEST(PlainLoop, AveragesColourDepthAndTransmission) {
  RaytraceSettings s = SettingsFor(3, 1);
  s.outputFlags = raytrace_output_flags::kDepthPicture;
  // Column 0 (x = −1) misses. Column 1 (x = 0): white at 10, second sample
  // (x = −0.5) grey 0.5 at 30 letting half through. Column 2 (x = 1): white
  // at 10 again, its second sample (x = 0.5) a miss... but column 2 equals
  // column 1's primary sample, so it is kept.
  const PixelSampler sampler = [](float x, float, RayPath&) {
    if (x == -1.0f) {
      return Miss();
    }
    if (x == -0.5f) {
      return Hit(0.5f, 30.0f, 0.5f);
    }
    return Hit(1.0f, 10.0f, 0.0f);
  };
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TracePlainLoop(s, sampler, image, stats), 0);
  ASSERT_EQ(stats.extraSamples, 1u);
  // Colour (1 + 0.5) / 2 · 255 = 191.25; alpha 255 · (1 − 0.25) = 191.25.
  EXPECT_EQ(PixelAt(image, 1, 0)[2], 191);
  EXPECT_EQ(PixelAt(image, 1, 0)[3], 191);
  EXPECT_FLOAT_EQ(image.depth[1], 20.0f);
  EXPECT_EQ(PixelAt(image, 2, 0)[2], 255);
  EXPECT_FLOAT_EQ(image.depth[2], 10.0f);
  EXPECT_FLOAT_EQ(image.depth[0], kNoHit);

  // A hit averaged with a miss: the depth is the hit's, alpha 127.5 → 128.
  const PixelSampler halfMiss = [](float x, float, RayPath&) {
    return x == -1.0f || x == -0.5f ? Miss() : Hit(1.0f, 10.0f);
  };
  image.Allocate(s);
  ASSERT_EQ(TracePlainLoop(s, halfMiss, image, stats), 0);
  EXPECT_EQ(PixelAt(image, 1, 0)[3], 128);
  EXPECT_EQ(PixelAt(image, 1, 0)[0], 128);
  EXPECT_FLOAT_EQ(image.depth[1], 10.0f);
}

// Catches: alpha not 255·(1 − transmission), or not 255 under a background
// picture.
TEST(PlainLoop, AlphaFromTransmissionOrBackgroundPicture) {
  RaytraceSettings s = SettingsFor(3, 1);
  // All black so that no second sample is taken.
  const PixelSampler sampler = [](float x, float, RayPath&) {
    if (x < -0.5f) {
      return Miss();
    }
    return x < 0.5f ? Hit(0.0f, 5.0f, 0.0f) : Hit(0.0f, 5.0f, 0.25f);
  };
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TracePlainLoop(s, sampler, image, stats), 0);
  EXPECT_EQ(PixelAt(image, 0, 0)[3], 0);
  EXPECT_EQ(PixelAt(image, 1, 0)[3], 255);
  EXPECT_EQ(PixelAt(image, 2, 0)[3], 191);  // 255 · 0.75 = 191.25
  s.backgroundPicture = true;
  ASSERT_EQ(TracePlainLoop(s, sampler, image, stats), 0);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(PixelAt(image, c, 0)[3], 255);
  }
}

// Catches: the shadowed colour shown when a shadow picture is asked for, or
// the ratio not colour / unshadowed (1 where unshadowed is 0).
TEST(PlainLoop, ShadowPictureShowsUnshadowedColourAndTheRatio) {
  RaytraceSettings s = SettingsFor(2, 1);
  s.sceneFlags = raytrace_scene_flags::kShadows;
  s.outputFlags = raytrace_output_flags::kShadowPicture;
  const PixelSampler sampler = [](float x, float, RayPath&) {
    RaySample r = Hit(0.25f);
    r.unshadowed = {0.5f, 0.5f, 0.0f};
    r.colour = {0.25f, 0.25f, 0.0f};
    (void)x;
    return r;
  };
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TracePlainLoop(s, sampler, image, stats), 0);
  EXPECT_EQ(PixelAt(image, 0, 0)[0], 128);  // 0.5 · 255 = 127.5
  EXPECT_EQ(image.shadow[0], 128);          // 0.25 / 0.5
  EXPECT_EQ(image.shadow[2], 255);          // unshadowed red is 0
  // Without shadows the picture shows the colour and the ratio is 1.
  s.sceneFlags = 0;
  ASSERT_EQ(TracePlainLoop(s, sampler, image, stats), 0);
  EXPECT_EQ(PixelAt(image, 0, 0)[0], 64);  // 0.25 · 255 = 63.75
  EXPECT_EQ(image.shadow[0], 255);
}

// ---- "HIGH" --------------------------------------------------------------

// The coverage edge: hits where x < −0.5, so on a picture 8 wide (columns
// −4..3) columns −4..−1 hit and 0..3 miss. Column 0 (index 4) differs from
// its left neighbour. Its refinement, square centred at (−0.5, y) with half
// size 0.25: centre miss; corner (−0.75, +) hit, no finer square (it hit
// and equals the hit mean); corner (−0.25, +) miss → quarter square centred
// (−0.375, +0.125): corners at x −0.5 and −0.25, all four miss; corner
// (−0.75, −) hit; corner (−0.25, −) miss → four more misses. 13 samples,
// 2 hits: alpha 255 · 2 / 13 = 39.2.
PixelSampler LeftHalfPlane(float edge, float grey) {
  return [edge, grey](float x, float, RayPath&) { return x < edge ? Hit(grey) : Miss(); };
}

// Catches: refinement away from edges, in the first row, or a wrong
// recursion (sample count, the hit fraction as alpha).
TEST(HighLoop, RefinesOnlyAtEdgesWithTheHitFractionAsAlpha) {
  RaytraceSettings s = SettingsFor(8, 4);
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TraceHighLoop(s, LeftHalfPlane(-100.0f, 0.5f), image, stats), 0);
  EXPECT_EQ(stats.extraSamples, 0u);  // nothing differs

  s.outputFlags = raytrace_output_flags::kDepthPicture;
  image.Allocate(s);
  stats = {};
  ASSERT_EQ(TraceHighLoop(s, LeftHalfPlane(-0.5f, 0.5f), image, stats), 0);
  // Rows 1..3 of column 4 refined, 12 samples each; the top row is not.
  EXPECT_EQ(stats.extraSamples, 36u);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(PixelAt(image, 3, row)[3], 255) << row;
    EXPECT_EQ(PixelAt(image, 5, row)[3], 0) << row;
  }
  EXPECT_EQ(PixelAt(image, 4, 0)[3], 0);
  for (int row = 1; row < 4; ++row) {
    EXPECT_EQ(PixelAt(image, 4, row)[3], 39) << row;
    EXPECT_EQ(PixelAt(image, 4, row)[1], 128) << row;  // mean of the hits: 0.5
    EXPECT_FLOAT_EQ(image.depth[static_cast<std::size_t>(row) * 8 + 4], 10.0f);
  }
}

// Catches: the 1/32 test against the wrong mean, or the quarter squares
// placed wrongly. Left of x = −0.5 grey 0.2, right 0.8, everything hit.
// Column 0: centre 0.8; corner (−0.75, +) 0.2 against the mean 0.5 →
// quarter square at x −0.75, −0.5: 0.2, 0.8, 0.2, 0.8; corner (−0.25, +)
// 0.8 against 3.8 / 7 → four 0.8; corner (−0.75, −) 0.2 against 7.2 / 12 →
// 0.2, 0.8, 0.2, 0.8; corner (−0.25, −) 0.8 against 10 / 17 → four 0.8.
// 21 samples summing 13.2: 255 · 13.2 / 21 = 160.3.
TEST(HighLoop, RefinesColourEdgesAgainstTheMeanOfTheHits) {
  RaytraceSettings s = SettingsFor(4, 2);
  const PixelSampler sampler = [](float x, float, RayPath&) {
    return x < -0.5f ? Hit(0.2f) : Hit(0.8f);
  };
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TraceHighLoop(s, sampler, image, stats), 0);
  EXPECT_EQ(stats.extraSamples, 20u);  // one pixel: row 1, column 2 (x = 0)
  EXPECT_EQ(PixelAt(image, 2, 1)[2], 160);
  EXPECT_EQ(PixelAt(image, 2, 1)[3], 255);
  EXPECT_EQ(PixelAt(image, 2, 0)[2], 204);  // top row kept: 0.8
}

// Catches: the first column refined (it has no pixel to its left), or the
// pixel above not compared. Hits where y > −0.5 on a 4 × 4 picture (rows
// y = 1, 0, −1, −2): row 2 (y = −1) differs from the row above; its
// columns 1..3 refine, 20 samples each (every corner misses, so every
// quarter square is traced), column 0 does not.
TEST(HighLoop, FirstColumnIsNotRefinedAndThePixelAboveIsCompared) {
  RaytraceSettings s = SettingsFor(4, 4);
  const PixelSampler sampler = [](float, float y, RayPath&) {
    return y > -0.5f ? Hit(1.0f) : Miss();
  };
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TraceHighLoop(s, sampler, image, stats), 0);
  EXPECT_EQ(stats.extraSamples, 60u);
  EXPECT_EQ(PixelAt(image, 1, 2)[3], 0);
}

// ---- "LOW" ---------------------------------------------------------------

// Catches: "LOW" refining away from edges, or its samples misplaced. Edge
// at x = 0.2: column x = 0 hits, x = 1 misses. Both refine (each differs
// from its neighbour): x = 0 takes samples at −0.375, 0.125 (hits), 0.375
// (miss), −0.125 (hit): 4 of 5 opaque, alpha 204; x = 1 samples 0.625 ..
// 1.375, all miss.
TEST(LowLoop, RefinesBothSidesOfAnEdgeWithFourSamples) {
  RaytraceSettings s = SettingsFor(4, 3);
  RaytraceImage image;
  image.Allocate(s);
  LoopStats stats;
  ASSERT_EQ(TraceLowLoop(s, LeftHalfPlane(-100.0f, 1.0f), image, stats), 0);
  EXPECT_EQ(stats.extraSamples, 0u);
  ASSERT_EQ(TraceLowLoop(s, LeftHalfPlane(0.2f, 1.0f), image, stats), 0);
  EXPECT_EQ(stats.extraSamples, 3u * 2u * 4u);  // two pixels in each of 3 rows
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(PixelAt(image, 1, row)[3], 255);
    EXPECT_EQ(PixelAt(image, 2, row)[3], 204);
    EXPECT_EQ(PixelAt(image, 3, row)[3], 0);
  }
}

// ---- Fields ----------------------------------------------------------------

// Catches: the wrong rows traced for a field, or the other rows touched.
TEST(FieldLoop, TracesEverySecondRowByOrderAndField) {
  struct Case {
    std::uint16_t order;
    float frame;
    int firstRow;
  };
  // The whole frame is the first field: the order bit set traces the top
  // row; the later field (a fraction) traces the others.
  for (const Case c :
       {Case{raytrace_scene_flags::kFieldOrder, 3.0f, 0},
        Case{raytrace_scene_flags::kFieldOrder, 3.5f, 1}, Case{0, 3.0f, 1}, Case{0, 3.5f, 0}}) {
    RaytraceSettings s = SettingsFor(3, 5);
    s.sceneFlags = raytrace_scene_flags::kFields | c.order;
    s.frame = c.frame;
    RaytraceImage image;
    image.Allocate(s);
    std::fill(image.bgra.begin(), image.bgra.end(), std::uint8_t{7});
    LoopStats stats;
    ASSERT_EQ(TraceFieldLoop(s, LeftHalfPlane(100.0f, 1.0f), image, stats), 0);
    for (int row = 0; row < 5; ++row) {
      const bool traced = (row - c.firstRow) % 2 == 0;
      for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(PixelAt(image, column, row)[0], traced ? 255 : 7)
            << "frame " << c.frame << " row " << row;
      }
    }
  }
}

// ---- Threads and Escape ----------------------------------------------------

// Catches: a loop whose picture depends on the thread count (shared state
// between rows, refinement reading refined neighbours).
TEST(PixelLoops, IdenticalForOneAndTwoThreads) {
  const PixelSampler scene = [](float x, float y, RayPath& path) {
    ++path.counts.primary;
    const float r = x * x + y * y;
    if (r > 200.0f) {
      return Miss(0.1f);
    }
    RaySample s =
        Hit(std::fmod(std::fabs(x * 0.37f + y * 0.11f), 1.0f), 5.0f + r, r > 150.0f ? 0.5f : 0.0f);
    s.colour[0] *= 0.5f;
    return s;
  };
  using Loop = int (*)(const RaytraceSettings&, const PixelSampler&, RaytraceImage&, LoopStats&);
  for (Loop loop : {&TracePlainLoop, &TraceLowLoop, &TraceHighLoop, &TraceFieldLoop}) {
    RaytraceSettings one = SettingsFor(40, 30, 1);
    one.sceneFlags = raytrace_scene_flags::kShadows | raytrace_scene_flags::kFields;
    one.outputFlags = raytrace_output_flags::kDepthPicture | raytrace_output_flags::kShadowPicture;
    RaytraceSettings two = one;
    two.threads = 2;
    RaytraceImage a, b;
    a.Allocate(one);
    b.Allocate(two);
    LoopStats sa, sb;
    ASSERT_EQ(loop(one, scene, a, sa), 0);
    ASSERT_EQ(loop(two, scene, b, sb), 0);
    EXPECT_TRUE(a.bgra == b.bgra);
    EXPECT_TRUE(a.depth == b.depth);
    EXPECT_TRUE(a.shadow == b.shadow);
    EXPECT_EQ(sa.extraSamples, sb.extraSamples);
    EXPECT_EQ(sa.counts.primary, sb.counts.primary);
    EXPECT_GT(sa.counts.primary, 0u);
  }
}

// Catches: Escape not polled by a loop, or the request left pending.
TEST(PixelLoops, EscapeStopsWith110) {
  RaytraceSettings s = SettingsFor(8, 8, 2);
  using Loop = int (*)(const RaytraceSettings&, const PixelSampler&, RaytraceImage&, LoopStats&);
  for (Loop loop : {&TracePlainLoop, &TraceLowLoop, &TraceHighLoop, &TraceFieldLoop}) {
    RaytraceImage image;
    image.Allocate(s);
    LoopStats stats;
    RequestEscape();
    EXPECT_EQ(loop(s, LeftHalfPlane(0.0f, 1.0f), image, stats), 110);
    EXPECT_FALSE(escape_pressed());
  }
}

// ---- Multi-pass ------------------------------------------------------------

// Catches: the pass index truncated instead of rounded, or not held to 0..8.
TEST(MultiPass, PassIndexFromTheFraction) {
  EXPECT_EQ(MultiPassIndex(4.0f), 0);
  EXPECT_EQ(MultiPassIndex(4.44f), 8);    // 7.92
  EXPECT_EQ(MultiPassIndex(4.0556f), 1);  // 1.0008
  EXPECT_EQ(MultiPassIndex(4.025f), 0);   // 0.45
  EXPECT_EQ(MultiPassIndex(4.2222f), 4);  // 3.9996
  EXPECT_EQ(MultiPassIndex(4.5f), 8);     // 9, held to 8
  EXPECT_EQ(MultiPassIndex(-0.5f), 8);    // fraction of −0.5 is 0.5
}

// Catches: wrong offsets, offsets not turned by the light's orientation, or
// lights moved that must stay (pass 0, size 0, types 4..7).
TEST(MultiPass, LightsMoveByThePassOffsetInTheirOwnPlane) {
  RaytraceLight point;
  point.type = raytrace_light::kPoint;
  point.position = {1.0f, 2.0f, 3.0f};
  point.size = 10.0f;
  RaytraceLight turned = point;
  turned.type = raytrace_light::kSpot;
  // The light's x axis along world y, its y axis along world −x.
  turned.orientation =
      Matrix3::FromRows({0.0f, -1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f});
  RaytraceLight noSize = point;
  noSize.size = 0.0f;
  RaytraceLight noShadow = point;
  noShadow.type = 5;
  const std::vector<RaytraceLight> lights = {point, turned, noSize, noShadow};

  const auto pass0 = LightsForPass(lights, 0);
  EXPECT_EQ(pass0[0].position, point.position);

  const auto pass1 = LightsForPass(lights, 1);  // (0, s)
  EXPECT_EQ(pass1[0].position, (Vector3{1.0f, 12.0f, 3.0f}));
  EXPECT_EQ(pass1[1].position, (Vector3{-9.0f, 2.0f, 3.0f}));  // light y is world −x
  EXPECT_EQ(pass1[2].position, point.position);
  EXPECT_EQ(pass1[3].position, point.position);

  const auto pass2 = LightsForPass(lights, 2);  // (d, d), d = 3.5
  EXPECT_NEAR(pass2[0].position.x, 4.5f, 1e-5f);
  EXPECT_NEAR(pass2[0].position.y, 5.5f, 1e-5f);
  const auto pass7 = LightsForPass(lights, 7);  // (−s, 0)
  EXPECT_EQ(pass7[0].position, (Vector3{-9.0f, 2.0f, 3.0f}));
  const auto pass8 = LightsForPass(lights, 8);  // (−d, d)
  EXPECT_NEAR(pass8[0].position.x, -2.5f, 1e-5f);
  EXPECT_NEAR(pass8[0].position.y, 5.5f, 1e-5f);
}

// ---- The frame renderer ----------------------------------------------------

AttributeRecord GlowValues() {
  AttributeRecord a;
  a.colour = {1.0f, 0.5f, 0.25f};
  a.ambiance = {1.0f, 1.0f, 1.0f};
  return a;
}

// A glowing wall at z = 500 over world x < −4: seen from the origin along
// +z with focal length 100, pixel (x, y) looks along (x, y, 100), so the
// columns x ≤ −1 see it, at distance 5 · |(x, y, 100)|, and a second sample
// half a pixel left of x = 0 (world x −2.5) misses it. Black background.
struct WallScene {
  RaytraceObjects objects;
  BinnodeTree tree;
  RaytraceSettings settings;
  std::shared_ptr<Material> material;

  explicit WallScene(int width = 6, int height = 4) {
    settings = SettingsFor(width, height, 2);
    settings.focal = 100.0f;
    material = MakeAttributeMaterial("wall", GlowValues());
    RayShading& shading = objects.AddShading();
    shading.patch.material = material.get();
    RenderPatch r;
    r.p = {Vector3{-1000.0f, -1000.0f, 500.0f}, Vector3{-4.0f, -1000.0f, 500.0f},
           Vector3{-4.0f, 1000.0f, 500.0f}, Vector3{-1000.0f, 1000.0f, 500.0f}};
    r.t0u = r.t1u = r.p[1] - r.p[0];
    r.t3u = r.t2u = r.p[2] - r.p[3];
    r.t0v = r.t3v = r.p[3] - r.p[0];
    r.t1v = r.t2v = r.p[2] - r.p[1];
    objects.AddPatch(r, &shading, 0);
    EXPECT_EQ(tree.Build(objects), 0);
  }
};

Image Load(const std::filesystem::path& name) {
  Image image;
  image.fileName = name.string();
  image.flags = kImageQuiet;
  EXPECT_TRUE(LoadImage(image, -1, 0)) << name;
  return image;
}

float DepthAt(const Image& image, int x, int y) {
  std::uint32_t bits = 0;
  for (int p = 0; p < 4; ++p) {
    bits |= std::uint32_t{image.Plane(y, p)[x]} << (8 * p);
  }
  return std::bit_cast<float>(bits);
}

// Catches: a picture missing from the temporary folder or the output, the
// wrong depth (32 or 24 bits), depth or shadow pictures not written or
// wrongly encoded, the probe file left behind.
TEST(RaytraceFrame, WritesTheTemporaryAndOutputPicturesWithDepthAndShadow) {
  TempDir dir;
  WallScene scene;
  scene.settings.sceneFlags = raytrace_scene_flags::kShadows;
  scene.settings.outputFlags = raytrace_output_flags::kAlpha |
                               raytrace_output_flags::kDepthPicture |
                               raytrace_output_flags::kShadowPicture;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const auto output = dir / "frame0001.tga";
  // Mode 1 leaves the picture in the temporary picture only.
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, output, dir.path()).code, 0);
  EXPECT_FALSE(std::filesystem::exists(output));
  const Image temp = Load(dir / "temp.tga");
  EXPECT_TRUE(std::filesystem::exists(dir / "shadow.tga"));
  EXPECT_TRUE(std::filesystem::exists(dir / "depth.tga"));
  // Mode 2 writes the output, and a finished frame's temporary pictures go.
  const RaytraceFrameResult r =
      RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, dir.path());
  ASSERT_EQ(r.code, 0) << r.reason;
  EXPECT_FALSE(std::filesystem::exists(dir / "temp.tga"));
  EXPECT_FALSE(std::filesystem::exists(dir / "depth.tga"));
  // One second sample per row, at x = 0 beside the wall's last column; each
  // sample is a primary ray.
  EXPECT_EQ(r.stats.loop.extraSamples, 4u);
  EXPECT_EQ(r.stats.loop.counts.primary, 28u);
  EXPECT_FALSE(std::filesystem::exists(dir / "dummy.dum"));

  ASSERT_EQ(temp.bytesPerPixel, 4);
  ASSERT_EQ(temp.width, 6);
  ASSERT_EQ(temp.height, 4);
  const Image out = Load(output);
  ASSERT_EQ(out.bytesPerPixel, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool wall = x < 3;  // columns −3..−1
      const Pixel expected = wall ? Pixel{255, 128, 64, 255} : Pixel{0, 0, 0, 0};
      EXPECT_EQ(ImagePixel(temp, x, y), expected) << x << "," << y;
      EXPECT_EQ(ImagePixel(out, x, y), expected) << x << "," << y;
    }
  }
  const Image depth = Load(DepthPictureName(output));
  ASSERT_EQ(depth.bytesPerPixel, 4);
  // Pixel (column 0, row 0) is x = −3, y = 1.
  EXPECT_NEAR(DepthAt(depth, 0, 0), 5.0f * std::sqrt(9.0f + 1.0f + 10000.0f), 1e-2f);
  EXPECT_EQ(DepthAt(depth, 5, 3), kNoHit);
  const Image shadow = Load(ShadowPictureName(output));
  ASSERT_EQ(shadow.bytesPerPixel, 3);
  EXPECT_EQ(ImagePixel(shadow, 0, 0), (Pixel{255, 255, 255, 0}));
  EXPECT_FALSE(std::filesystem::exists(dir / "shadow.tga"));

  // 24 bits without alpha.
  scene.settings.outputFlags = 0;
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, dir.path()).code, 0);
  EXPECT_EQ(Load(output).bytesPerPixel, 3);
}

// Catches: mode 1 writing the output, or mode 4 writing any picture.
TEST(RaytraceFrame, TemporaryOnlyAndDepthOnlyModes) {
  TempDir dir;
  WallScene scene;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const auto output = dir / "out" / "f.tga";
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, output, dir.path()).code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "temp.tga"));
  EXPECT_FALSE(std::filesystem::exists(output));

  RaytraceImage kept;
  const RaytraceFrameResult r =
      RenderRaytraceFrame(tracer, raytrace_mode::kDepthOnly, output, dir.path(), &kept);
  ASSERT_EQ(r.code, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "temp.tga"));  // cleared, not rewritten
  EXPECT_FALSE(std::filesystem::exists(output));
  ASSERT_EQ(kept.depth.size(), 24u);
  EXPECT_NEAR(kept.depth[0], 5.0f * std::sqrt(9.0f + 1.0f + 10000.0f), 1e-2f);
  EXPECT_EQ(kept.depth[5], kNoHit);
  EXPECT_EQ(r.stats.loop.counts.primary, 24u);
}

// Catches: a temporary folder that cannot hold files not reported as 111
// with the OS's reason (a "folder" under a plain file fails even for root).
TEST(RaytraceFrame, TemporaryFolderUnderAFileIs111) {
  TempDir dir;
  testing::WriteFile(dir / "plain", "x");
  WallScene scene;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const auto output = dir / "f.tga";
  const RaytraceFrameResult r =
      RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, dir / "plain" / "temp");
  EXPECT_EQ(r.code, 111);
  EXPECT_EQ(r.reason, std::strerror(ENOTDIR));
  EXPECT_FALSE(std::filesystem::exists(output));
}

// Catches: an unwritable temporary folder not reported as 111 with the
// OS's reason.
TEST(RaytraceFrame, UnwritableTemporaryFolderIs111) {
  TempDir dir;
  const auto temp = dir / "ro";
  std::filesystem::create_directories(temp);
  ASSERT_EQ(::chmod(temp.c_str(), 0555), 0);
  if (::access(temp.c_str(), W_OK) == 0) {
    ::chmod(temp.c_str(), 0755);
    GTEST_SKIP() << "running as root: a read-only folder is still writable";
  }
  WallScene scene;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const auto output = dir / "f.tga";
  const RaytraceFrameResult r = RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, temp);
  ::chmod(temp.c_str(), 0755);
  EXPECT_EQ(r.code, 111);
  EXPECT_EQ(r.reason, std::strerror(EACCES));
  EXPECT_FALSE(std::filesystem::exists(output));
}

// Catches: an output that cannot be created or written reported as success,
// or the output (or its companions) left behind.
TEST(RaytraceFrame, UnwritableOutputLeavesNoFile) {
  TempDir dir;
  WallScene scene;
  scene.settings.outputFlags = raytrace_output_flags::kDepthPicture;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);

  // A folder in the way of the output: it cannot take the picture's name.
  const auto blocked = dir / "blocked.tga";
  std::filesystem::create_directories(blocked / "inside");
  RaytraceFrameResult r = RenderRaytraceFrame(tracer, raytrace_mode::kOutput, blocked, dir.path());
  EXPECT_TRUE(r.code == 108 || r.code == 111) << r.code;
  EXPECT_FALSE(std::filesystem::exists(DepthPictureName(blocked)));

  // The depth picture cannot be written: the output is not put in place.
  const auto output = dir / "g.tga";
  std::filesystem::create_directories(DepthPictureName(output) / "inside");
  r = RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, dir.path());
  EXPECT_TRUE(r.code == 108 || r.code == 111) << r.code;
  EXPECT_FALSE(std::filesystem::exists(output));

  // A write that fails part way (the file-size limit): 108, no picture.
  // One thread: the child of a fork must not use the parent's thread pool.
  scene.settings.threads = 1;
  const auto limited = dir / "h.tga";
  const int code = testing::RunWithFileSizeLimit(100, [&] {
    return RenderRaytraceFrame(tracer, raytrace_mode::kOutput, limited, dir.path()).code;
  });
  EXPECT_EQ(code, 108);
  EXPECT_FALSE(std::filesystem::exists(limited));
}

// Catches: the output picture replaced before its depth picture failed, so
// a failed frame loses the previous render: the three pictures are one save.
TEST(RaytraceFrame, AFailedDepthPictureKeepsThePreviousOutput) {
  TempDir dir;
  WallScene scene;
  const auto output = dir / "kept.tga";
  {
    std::ofstream old(output, std::ios::binary);
    old << "previous render";
  }
  scene.settings.outputFlags = raytrace_output_flags::kDepthPicture;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  std::filesystem::create_directories(DepthPictureName(output) / "inside");
  const RaytraceFrameResult r =
      RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, dir.path());
  EXPECT_TRUE(r.code == 108 || r.code == 111) << r.code;
  std::ifstream in(output, std::ios::binary);
  const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "previous render");
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// Catches: a failed ".dep" or ".sha" picture, or an unusable temporary
// folder, reported under the output's name (the user is told the picture
// they asked for cannot be opened while the fault is its companion).
TEST(RaytraceFrame, TheFailedPictureIsNamed) {
  TempDir dir;
  WallScene scene;
  scene.settings.outputFlags =
      raytrace_output_flags::kDepthPicture | raytrace_output_flags::kShadowPicture;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);

  const auto depthBlocked = dir / "d.tga";
  std::filesystem::create_directories(DepthPictureName(depthBlocked) / "inside");
  RaytraceFrameResult r =
      RenderRaytraceFrame(tracer, raytrace_mode::kOutput, depthBlocked, dir.path());
  EXPECT_TRUE(r.code == 108 || r.code == 111) << r.code;
  EXPECT_EQ(r.file, DepthPictureName(depthBlocked));

  const auto shadowBlocked = dir / "s.tga";
  std::filesystem::create_directories(ShadowPictureName(shadowBlocked) / "inside");
  r = RenderRaytraceFrame(tracer, raytrace_mode::kOutput, shadowBlocked, dir.path());
  EXPECT_TRUE(r.code == 108 || r.code == 111) << r.code;
  EXPECT_EQ(r.file, ShadowPictureName(shadowBlocked));

  // The temporary folder under a file: its probe is what cannot be made.
  const auto plain = dir / "plain";
  std::ofstream(plain) << "x";
  r = RenderRaytraceFrame(tracer, raytrace_mode::kOutput, dir / "t.tga", plain / "temp");
  EXPECT_EQ(r.code, 111);
  EXPECT_EQ(r.file, plain / "temp" / "dummy.dum");

  // A frame that succeeds names nothing.
  r = RenderRaytraceFrame(tracer, raytrace_mode::kOutput, dir / "ok.tga", dir.path());
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.file.empty());
}

// Catches: picture buffers refused by the memory limit not reported as 802
// (or the frame going on to write a picture).
TEST(RaytraceFrame, PictureBuffersOverTheMemoryLimitAre802) {
  TempDir dir;
  WallScene scene(1000, 1000);  // 4 MB of picture
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const std::int64_t saved = MemoryPool::Main().limit();
  MemoryPool::Main().set_limit(MemoryPool::Main().total_allocated() + (std::int64_t{1} << 20));
  const RaytraceFrameResult r =
      RenderRaytraceFrame(tracer, raytrace_mode::kOutput, dir / "f.tga", dir.path());
  MemoryPool::Main().set_limit(saved);
  EXPECT_EQ(r.code, 802);
  EXPECT_FALSE(std::filesystem::exists(dir / "f.tga"));
  EXPECT_FALSE(std::filesystem::exists(dir / "temp.tga"));
}

// Catches: the eye moved for a pass without re-aiming at the focus plane
// (or the shift turned the wrong way): a wall at the focus distance looks
// the same in every pass; nearer focus, it moves.
TEST(RaytraceFrame, MultiPassLensKeepsTheFocusPlaneSharp) {
  TempDir dir;
  WallScene scene(12, 4);
  scene.settings.sceneFlags = raytrace_scene_flags::kMultiPass;
  scene.settings.lens = 10.0f;
  scene.settings.focus = 500.0f;  // the wall's plane
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const auto output = dir / "f.tga";
  RaytraceImage first, third;
  scene.settings.frame = 3.0f;
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, output, dir.path(), &first).code,
            0);
  // Pass 3 (3/18 of a frame): the eye 10 units along the camera's x.
  scene.settings.frame = 3.0f + 3.0f / 18.0f;
  ASSERT_EQ(MultiPassIndex(scene.settings.frame), 3);
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, output, dir.path(), &third).code,
            0);
  EXPECT_TRUE(first.bgra == third.bgra);
  // Focus at 250: the wall, farther, shifts by 10 · (1/250 − 1/500) · 100
  // = 2 pixels in the pass, so the running mean changes.
  scene.settings.focus = 250.0f;
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, output, dir.path(), &third).code,
            0);
  EXPECT_FALSE(first.bgra == third.bgra);
}

void WriteMarkerPicture(const std::filesystem::path& name, int width, int height,
                        std::uint32_t value) {
  TargaWriter writer;
  ASSERT_TRUE(writer.CreateTarga(name, width, height, 32, false));
  std::vector<std::uint32_t> row(static_cast<std::size_t>(width), value);
  for (int y = 0; y < height; ++y) {
    ASSERT_TRUE(writer.WriteTargaRow(row.data(), width, 32));
  }
  ASSERT_TRUE(writer.CloseTarga(0, 1.0f, 32));
}

// Catches: a later field starting from a blank picture (or the first field
// adding to an old one).
TEST(RaytraceFrame, LaterFieldAddsToTheFirstFieldsPicture) {
  TempDir dir;
  WallScene scene;
  scene.settings.sceneFlags = raytrace_scene_flags::kFields | raytrace_scene_flags::kFieldOrder;
  scene.settings.frame = 2.5f;  // the later field: rows 1 and 3
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  WriteMarkerPicture(dir / "temp.tga", 6, 4, 0x11223344u);
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, dir / "f.tga", dir.path()).code,
            0);
  Image temp = Load(dir / "temp.tga");
  const Pixel marker{0x44, 0x33, 0x22, 0x11};
  const Pixel wall{255, 128, 64, 255};
  const Pixel miss{0, 0, 0, 0};
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(ImagePixel(temp, 0, y), (y % 2 == 0 ? marker : wall)) << y;
    EXPECT_EQ(ImagePixel(temp, 5, y), (y % 2 == 0 ? marker : miss)) << y;
  }
  // The first field clears the old picture: its untraced rows are blank.
  WriteMarkerPicture(dir / "temp.tga", 6, 4, 0x11223344u);
  scene.settings.frame = 2.0f;
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, dir / "f.tga", dir.path()).code,
            0);
  temp = Load(dir / "temp.tga");
  EXPECT_EQ(ImagePixel(temp, 0, 0), (Pixel{255, 128, 64, 255}));
  EXPECT_EQ(ImagePixel(temp, 0, 1), (Pixel{0, 0, 0, 0}));
}

// Catches: passes overwriting each other instead of adding to the running
// mean, or the output written before the last pass.
TEST(RaytraceFrame, MultiPassAddsToTheTemporaryAndCompletesOnTheLastPass) {
  TempDir dir;
  WallScene scene;
  scene.settings.sceneFlags = raytrace_scene_flags::kMultiPass;
  scene.settings.frame = 3.0f;
  const Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const auto output = dir / "f.tga";
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, dir.path()).code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "temp.tga"));
  EXPECT_FALSE(std::filesystem::exists(output));  // pass 0 of 8

  // Pass 8 over an earlier mean of grey 128, opaque: the wall (255, 128, 64,
  // 255) and the miss (0, 0, 0, 0) join it with weight 1 against 8:
  // (128 · 8 + 255 + 4) / 9 = 142, (128 · 8 + 128 + 4) / 9 = 128,
  // (128 · 8 + 64 + 4) / 9 = 121, (255 · 8 + 255 + 4) / 9 = 255;
  // the miss: (1024 + 4) / 9 = 114, alpha (2040 + 4) / 9 = 227.
  WriteMarkerPicture(dir / "temp.tga", 6, 4, 0xFF808080u);
  scene.settings.frame = 3.44f;
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kTemporary, output, dir.path()).code, 0);
  const Image temp = Load(dir / "temp.tga");
  EXPECT_EQ(ImagePixel(temp, 0, 0), (Pixel{142, 128, 121, 255}));
  EXPECT_EQ(ImagePixel(temp, 5, 0), (Pixel{114, 114, 114, 227}));
  // The same last pass in mode 2 writes the output and, the frame done,
  // removes the temporary pictures.
  WriteMarkerPicture(dir / "temp.tga", 6, 4, 0xFF808080u);
  ASSERT_EQ(RenderRaytraceFrame(tracer, raytrace_mode::kOutput, output, dir.path()).code, 0);
  ASSERT_TRUE(std::filesystem::exists(output));
  EXPECT_EQ(ImagePixel(Load(output), 0, 0), (Pixel{142, 128, 121, 0}));
  EXPECT_EQ(ImagePixel(Load(output), 5, 0), (Pixel{114, 114, 114, 0}));
  EXPECT_FALSE(std::filesystem::exists(dir / "temp.tga"));
}

}  // namespace
}  // namespace zentrope

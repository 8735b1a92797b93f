// Value noise, turbulence and the Checker, Spherical and Noise patterns.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "material/material.h"
#include "material/texture.h"

namespace zentrope {
namespace {

PatternValues CheckerValues(float scale, float blur) {
  PatternValues v;
  v.scale = {scale, scale, scale};
  v.blur = blur;
  return v;
}

// Catches: a source value retyped or the table built from F[i] instead of
// F[(i + 1) mod 500], which would change every noise picture.
TEST(NoiseTable, GivenValuesAndLayout) {
  EXPECT_FLOAT_EQ(kNoiseSource[0], 0.660394549f);
  EXPECT_FLOAT_EQ(kNoiseSource[1], 0.558832586f);
  EXPECT_FLOAT_EQ(kNoiseSource[2], 0.431001514f);
  EXPECT_FLOAT_EQ(kNoiseSource[3], 0.452348530f);
  EXPECT_FLOAT_EQ(kNoiseSource[4], 0.333563656f);
  EXPECT_FLOAT_EQ(kNoiseSource[5], 0.967291236f);
  EXPECT_FLOAT_EQ(kNoiseSource[499], 0.001659190f);
  EXPECT_FLOAT_EQ(kNoiseTable[0], 0.558832586f - 0.5f);    // F[1] − 0.5
  EXPECT_FLOAT_EQ(kNoiseTable[498], 0.001659190f - 0.5f);  // F[499] − 0.5
  EXPECT_FLOAT_EQ(kNoiseTable[499], 0.660394549f - 0.5f);  // F[0] − 0.5
  EXPECT_FLOAT_EQ(kNoiseTable[999], 0.660394549f - 0.5f);  // the second half repeats
  EXPECT_FLOAT_EQ(kNoiseTable[500], kNoiseTable[0]);
  for (float f : kNoiseSource) {
    EXPECT_GE(f, 0.0f);
    EXPECT_LE(f, 1.0f);
  }
}

// Catches: a wrong lattice hash (multiplier, periods 199/249/332, or the
// sum taken modulo something else); the indices are worked by hand, e.g.
// trunc(frac(0.628318)·199) = trunc(125.035) = 125.
TEST(ValueNoise, LatticePointsTakeTheirTableEntry) {
  EXPECT_FLOAT_EQ(ValueNoise({0, 0, 0}), kNoiseTable[0]);
  EXPECT_FLOAT_EQ(ValueNoise({1, 0, 0}), kNoiseTable[125]);
  EXPECT_FLOAT_EQ(ValueNoise({0, 1, 0}), kNoiseTable[156]);  // 0.628318·249 = 156.45
  EXPECT_FLOAT_EQ(ValueNoise({0, 0, 1}), kNoiseTable[208]);  // 0.628318·332 = 208.60
  EXPECT_FLOAT_EQ(ValueNoise({-1, 0, 0}), kNoiseTable[73]);  // frac(−0.628318)·199 = 73.96
  EXPECT_FLOAT_EQ(ValueNoise({1, 1, 1}), kNoiseTable[125 + 156 + 208]);
}

// Catches: linear instead of the 2f² / 1 − 2(1 − f)² weights, or the
// weight of one axis applied to another.
TEST(ValueNoise, WeightsBetweenCorners) {
  const float a = kNoiseTable[0], b = kNoiseTable[125];
  EXPECT_NEAR(ValueNoise({0.5f, 0, 0}), (a + b) / 2, 1e-6);
  EXPECT_NEAR(ValueNoise({0.25f, 0, 0}), a + (b - a) * 0.125f, 1e-6);  // s = 2·0.25²
  EXPECT_NEAR(ValueNoise({0.75f, 0, 0}), a + (b - a) * 0.875f, 1e-6);  // s = 1 − 2·0.25²
  const float c = kNoiseTable[208];
  EXPECT_NEAR(ValueNoise({0, 0, 0.25f}), a + (c - a) * 0.125f, 1e-6);
}

// Catches: a jump at lattice faces (weights not reaching 0 and 1, or a
// corner taken from the wrong cell).
TEST(ValueNoise, ContinuousAcrossLatticeFaces) {
  for (float y : {0.3f, 2.7f, -4.1f}) {
    const float below = ValueNoise({1.0f - 1e-4f, y, 0.7f});
    const float above = ValueNoise({1.0f + 1e-4f, y, 0.7f});
    EXPECT_NEAR(below, above, 1e-4);
    EXPECT_NEAR(ValueNoise({0.2f, y, 3.0f - 1e-4f}), ValueNoise({0.2f, y, 3.0f + 1e-4f}), 1e-4);
  }
}

// Catches: an out-of-range table index (or a crash) for points that are
// not finite or very far out.
TEST(ValueNoise, FarAndNonFinitePoints) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(ValueNoise({inf, 0, 0}), 0.0f);
  EXPECT_EQ(ValueNoise({std::nanf(""), 0, 0}), 0.0f);
  const float far = ValueNoise({-1.0e20f, 3.0e19f, 1.0e30f});
  EXPECT_GE(far, -0.5f);
  EXPECT_LE(far, 0.5f);
}

// Catches: NoiseVector offsets of the wrong sign or size, and turbulence
// taking more than the one octave the footprint allows.
TEST(Turbulence, OneOctaveAndVectorOffsets) {
  const Vector3 p{0.3f, 1.7f, -2.2f};
  const Vector3 n = NoiseVector(p);
  EXPECT_EQ(n.x, ValueNoise(p));
  EXPECT_EQ(n.y, ValueNoise(p + Vector3{1000, 1000, 1000}));
  EXPECT_EQ(n.z, ValueNoise(p - Vector3{1000, 1000, 1000}));
  EXPECT_EQ(Turbulence(p, 0.0f), ValueNoise(p));
  EXPECT_EQ(Turbulence(p, 3.0f), ValueNoise(p));
  EXPECT_EQ(Turbulence(p, std::numeric_limits<float>::infinity()), 0.0f);
  const Vector3 t = TurbulenceVector(p, 0.5f);
  EXPECT_EQ(t, n);
}

// Catches: the checker's parity or the +0.01 offset wrong: the cell holding
// the origin neighbourhood is 0 (second child) and neighbours alternate.
TEST(Checker, HardChessboardWithoutBlur) {
  const PatternValues v = CheckerValues(5, 0);
  EXPECT_EQ(CheckerValue(v, {0, 0, 0}), 0.0f);
  EXPECT_EQ(CheckerValue(v, {4.5f, 4.5f, 4.5f}), 0.0f);  // (4.51)/5 still in cell 0
  EXPECT_EQ(CheckerValue(v, {5, 0, 0}), 1.0f);           // 5.01/5 → cell 1
  EXPECT_EQ(CheckerValue(v, {5, 5, 0}), 0.0f);
  EXPECT_EQ(CheckerValue(v, {5, 5, 5}), 1.0f);
  EXPECT_EQ(CheckerValue(v, {-1, 0, 0}), 1.0f);  // −0.99/5 → cell −1
  EXPECT_EQ(CheckerValue(v, {-1, -1, 0}), 0.0f);
  EXPECT_EQ(CheckerValue(v, {-0.02f, 0, 0}), 1.0f);  // just across the face at −0.01
}

// Catches: translate subtracted instead of added, and an axis of scale 0
// not left out.
TEST(Checker, TranslateAndZeroScale) {
  PatternValues v = CheckerValues(5, 0);
  v.translate = {5, 0, 0};
  EXPECT_EQ(CheckerValue(v, {0, 0, 0}), 1.0f);  // (5 + 0 + 0.01)/5 → cell 1
  v = CheckerValues(5, 0);
  v.scale.y = 0;
  EXPECT_EQ(CheckerValue(v, {0, 7, 0}), 0.0f);  // y has no cells
  EXPECT_EQ(CheckerValue(CheckerValues(0, 0.5f), {3, 4, 5}), 0.0f);
}

// Catches: the blur ramp not reaching 0.5 on a face, or running the wrong
// way: at distance d (cell units) inside blur b the value is (1 − 2d/b)/2.
TEST(Checker, BlurRampsToHalfOnFaces) {
  const PatternValues v = CheckerValues(1, 0.5f);
  EXPECT_FLOAT_EQ(CheckerValue(v, {-0.01f, 0.49f, 0.49f}), 0.5f);   // a = 0 exactly on x
  EXPECT_NEAR(CheckerValue(v, {0.09f, 0.49f, 0.49f}), 0.3f, 1e-5);  // d = 0.1
  EXPECT_NEAR(CheckerValue(v, {1.09f, 0.49f, 0.49f}), 0.7f, 1e-5);  // odd cell: 1 − 0.3
  EXPECT_EQ(CheckerValue(v, {0.49f, 0.49f, 0.49f}), 0.0f);          // the middle: 2d = 1 ≥ b
}

// Catches: wrong radii tests or folding: 1 inside radius 1, 0 in the shell,
// the first child again (above 1) beyond radius 1 + radius 2.
TEST(Spherical, InsideShellOutside) {
  PatternValues v;  // scale 1, radii 5 and 10, no blur
  EXPECT_EQ(SphericalValue(v, {2, 0, 0}), 1.0f);
  EXPECT_EQ(SphericalValue(v, {0, 4.9f, 0}), 1.0f);
  EXPECT_EQ(SphericalValue(v, {0, 0, 7}), 0.0f);
  EXPECT_EQ(SphericalValue(v, {14.9f, 0, 0}), 0.0f);
  EXPECT_GT(SphericalValue(v, {20, 0, 0}), 1.0f);
  v.translate = {10, 0, 0};
  v.scale = {2, 2, 2};
  EXPECT_EQ(SphericalValue(v, {14, 0, 0}), 1.0f);  // q = 2
  EXPECT_EQ(SphericalValue(v, {24, 0, 0}), 0.0f);  // q = 7
}

// Catches: blur misapplied at the borders: 0.5 at the centre and on radius
// 1, the full value half a blur away; and a NaN when radius 2 is 0.
TEST(Spherical, BlurAndEmptyShell) {
  PatternValues v;
  v.blur = 0.4f;
  EXPECT_FLOAT_EQ(SphericalValue(v, {0, 0, 0}), 0.5f);
  EXPECT_FLOAT_EQ(SphericalValue(v, {5, 0, 0}), 0.5f);
  EXPECT_FLOAT_EQ(SphericalValue(v, {2.5f, 0, 0}), 1.0f);     // x = 0.5
  EXPECT_NEAR(SphericalValue(v, {0.5f, 0, 0}), 0.75f, 1e-6);  // x = 0.1: 0.1/0.4 + 0.5
  EXPECT_NEAR(SphericalValue(v, {6, 0, 0}), 0.25f, 1e-6);     // x = 0.1: 0.5 − 0.1/0.4
  v.radius2 = 0;
  EXPECT_EQ(SphericalValue(v, {5, 0, 0}), 1.0f);
  EXPECT_EQ(SphericalValue(v, {9, 0, 0}), 1.0f);
}

// Catches: the noise pattern not mapping the point by (p − T)/S.
TEST(NoisePattern, MapsThePointFirst) {
  PatternValues v;
  v.translate = {1, 2, 3};
  v.scale = {2, 4, 0};
  const Vector3 p{5, 6, 7};
  EXPECT_EQ(NoiseValue(v, p, 1.0f), ValueNoise({2, 1, 0}));
}

}  // namespace
}  // namespace zentrope

// Tangent derivation, bias and segment evaluation.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "core/spline.h"
#include "support/expect_vector.h"

namespace zentrope {
namespace {

using testing::VectorNear;

// A small open spline held in an array, linked in order.
template <std::size_t N>
struct Chain {
  std::array<ControlPoint, N> p;
  explicit Chain(const std::array<Vector3, N>& positions, bool closed = false) {
    for (std::size_t i = 0; i < N; ++i) {
      p[i].position = positions[i];
      p[i].prev = i > 0 ? &p[i - 1] : nullptr;
      p[i].next = i + 1 < N ? &p[i + 1] : nullptr;
    }
    if (closed) {
      p[N - 1].next = &p[0];
      p[0].prev = &p[N - 1];
      p[N - 1].flags |= kPointLoopClosing;
    }
  }
  void Compute() { ComputeSplineTangents(&p[0]); }
};

TEST(TangentTest, CollinearEvenlySpacedSmoothPoint) {
  Chain<3> c({{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}});
  c.Compute();
  EXPECT_TRUE(VectorNear(c.p[1].inTangent, {-1, 0, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(c.p[1].outTangent, {-1, 0, 0}, 1e-6f));
}

TEST(TangentTest, UnequalSpacingSplitsTheChord) {
  Chain<3> c({{{0, 0, 0}, {1, 0, 0}, {4, 0, 0}}});
  c.Compute();
  EXPECT_TRUE(VectorNear(c.p[1].inTangent, {-3, 0, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(c.p[1].outTangent, {-1, 0, 0}, 1e-6f));

  c.p[1].flags = 0;  // peaked
  ComputeTangents(c.p[1]);
  EXPECT_TRUE(VectorNear(c.p[1].inTangent, {-1.5f, 0, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(c.p[1].outTangent, {-0.5f, 0, 0}, 1e-6f));
}

TEST(TangentTest, TwoPointSplineIsStraight) {
  Chain<2> c({{{0, 0, 0}, {2, 4, 6}}});
  c.Compute();
  const Vector3 half{-1, -2, -3};
  EXPECT_TRUE(VectorNear(c.p[0].inTangent, half, 1e-6f));
  EXPECT_EQ(c.p[0].outTangent, c.p[0].inTangent);
  EXPECT_TRUE(VectorNear(c.p[1].outTangent, half, 1e-6f));
  EXPECT_EQ(c.p[1].inTangent, c.p[1].outTangent);
  // Every point of the segment lies on the chord, in order.
  float previous = 0.0f;
  for (float s : {0.1f, 0.25f, 0.5f, 0.9f, 1.0f}) {
    const Vector3 q = SegmentPoint(c.p[0], s);
    EXPECT_TRUE(VectorNear(Cross(q, {2, 4, 6}), {}, 1e-5f)) << s;
    EXPECT_GT(q.x, previous);
    previous = q.x;
  }
}

TEST(TangentTest, CoincidentNeighboursGiveZeroTangents) {
  Chain<3> c({{{1, 1, 1}, {5, 0, 0}, {1, 1, 1}}});
  c.p[1].alphaIn = 45;
  c.p[1].magnitudeOut = 3;
  c.Compute();
  EXPECT_EQ(c.p[1].inTangent, Vector3{});
  EXPECT_EQ(c.p[1].outTangent, Vector3{});
}

TEST(TangentTest, LonePointCopiesItsInTangent) {
  ControlPoint p;
  p.inTangent = {1, 2, 3};
  p.outTangent = {9, 9, 9};
  ComputeTangents(p);
  EXPECT_TRUE(VectorNear(p.inTangent, {1, 2, 3}, 1e-6f));
  EXPECT_EQ(p.outTangent, p.inTangent);
}

TEST(TangentTest, ClosedSplineUsesWrapAroundNeighbours) {
  Chain<4> c({{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}, /*closed=*/true);
  c.Compute();
  // First point: prev is (0,1,0), next (1,0,0); chord from next to prev.
  EXPECT_TRUE(VectorNear(c.p[0].inTangent, {-0.5f, 0.5f, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(c.p[0].outTangent, {-0.5f, 0.5f, 0}, 1e-6f));
}

TEST(TangentTest, SelectionRedrawRecomputesOnlyTheNeighbours) {
  Chain<5> c({{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}}});
  c.Compute();
  c.p[2].position = {2, 3, 0};
  const Vector3 far = c.p[0].inTangent;
  ComputeTangentsAround(c.p[2]);
  EXPECT_EQ(c.p[0].inTangent, far);  // two away: untouched
  EXPECT_TRUE(VectorNear(
      c.p[1].inTangent,
      (Vector3{0, 0, 0} - Vector3{2, 3, 0}) * (Length({1, -3, 0}) / (Length({1, -3, 0}) + 1)),
      1e-5f));
}

TEST(RotateTowardsTest, QuadrantsOfOrthogonalUnitVectors) {
  const Vector3 a{1, 0, 0}, b{0, 1, 0};
  EXPECT_TRUE(VectorNear(RotateTowards(a, b, 0), a, 0));
  EXPECT_TRUE(VectorNear(RotateTowards(a, b, 45), {0.70710678f, 0.70710678f, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(RotateTowards(a, b, 90), b, 1e-7f));
  EXPECT_TRUE(VectorNear(RotateTowards(a, b, 180), -a, 1e-7f));
  EXPECT_TRUE(VectorNear(RotateTowards(a, b, 270), -b, 1e-7f));
  EXPECT_TRUE(VectorNear(RotateTowards(a, b, 360), a, 0));
  // Between the quadrant angles the direction follows the chord: 30 degrees
  // is a third of the way from a to b, not sin/cos 30.
  EXPECT_TRUE(VectorNear(RotateTowards(a, b, 30), Normalized({2.0f / 3, 1.0f / 3, 0}), 1e-6f));
}

TEST(RotateTowardsTest, AngleReduction) {
  const Vector3 a{0.6f, 0, 0.8f}, b{0, 1, 0};
  const auto same = [&](float x, float y) {
    return VectorNear(RotateTowards(a, b, x), RotateTowards(a, b, y), 0);
  };
  EXPECT_TRUE(same(360, 0));
  EXPECT_TRUE(same(-360, 0));
  EXPECT_TRUE(same(-30, 330));
  EXPECT_TRUE(same(725.5f, 5));
  EXPECT_TRUE(same(-30.7f, 330));  // the fraction of a negative angle is dropped
  EXPECT_TRUE(same(-0.5f, 0));
  EXPECT_TRUE(same(-1000, 80));  // −1000 mod 360 = −280, + 360
  EXPECT_TRUE(same(90.5f, 90.5f));
  // Through a 16-bit integer: −40000 wraps to 25536; 25536 mod 360 + 360 is
  // 696, which must wrap once more instead of extrapolating past 360.
  EXPECT_TRUE(same(-40000, 336));
  // Huge angles reduce to some angle in [0, 360): the result is still one of
  // the blends of a and b, a unit vector in their plane (normal a × b =
  // (−0.8, 0, 0.6)), not an overflowed or non-finite value.
  // Catches: a huge angle giving a non-finite or off-plane result.
  for (float huge : {1e30f, -1e30f}) {
    const Vector3 r = RotateTowards(a, b, huge);
    EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z)) << huge;
    EXPECT_NEAR(Length(r), 1.0f, 1e-6f) << huge;
    EXPECT_NEAR(Dot(r, Vector3{-0.8f, 0, 0.6f}), 0.0f, 1e-6f) << huge;
  }
}

TEST(BiasTest, NeutralBiasKeepsTangents) {
  Chain<3> c({{{0, 0, 0}, {1, 2, 0}, {4, 1, 1}}});
  c.Compute();
  const Vector3 in = c.p[1].inTangent, out = c.p[1].outTangent;
  Vector3 t = in;
  ApplyBias(t, kNeutralBias, ReferenceNormal(c.p[1]));
  EXPECT_TRUE(VectorNear(t, in, 1e-6f));
  t = out;
  ApplyBias(t, kNeutralBias, ReferenceNormal(c.p[1]));
  EXPECT_TRUE(VectorNear(t, out, 1e-6f));
}

TEST(BiasTest, MagnitudeScalesAndAlphaWraps) {
  Chain<3> plain({{{0, 0, 0}, {1, 2, 0}, {4, 1, 1}}});
  plain.Compute();
  Chain<3> doubled({{{0, 0, 0}, {1, 2, 0}, {4, 1, 1}}});
  doubled.p[1].magnitudeIn = 2;
  doubled.p[1].magnitudeOut = 2;
  doubled.Compute();
  EXPECT_TRUE(VectorNear(doubled.p[1].inTangent, plain.p[1].inTangent * 2.0f, 1e-5f));
  EXPECT_TRUE(VectorNear(doubled.p[1].outTangent, plain.p[1].outTangent * 2.0f, 1e-5f));

  Chain<3> wrapped({{{0, 0, 0}, {1, 2, 0}, {4, 1, 1}}});
  wrapped.p[1].alphaIn = 360;
  wrapped.p[1].alphaOut = -360;
  wrapped.Compute();
  EXPECT_TRUE(VectorNear(wrapped.p[1].inTangent, plain.p[1].inTangent, 1e-5f));
  EXPECT_TRUE(VectorNear(wrapped.p[1].outTangent, plain.p[1].outTangent, 1e-5f));
}

TEST(BiasTest, AlphaTipsTowardsReferenceNormal) {
  // Points in the XY plane: the reference normal is along Z.
  Chain<3> c({{{0, 0, 0}, {1, 1, 0}, {2, 0, 0}}});
  c.p[1].alphaIn = 90;
  c.Compute();
  const Vector3 normal = ReferenceNormal(c.p[1]);
  ASSERT_NE(normal.z, 0.0f);
  const float len = 1.0f;  // chord (−2,0,0) split evenly
  EXPECT_TRUE(VectorNear(c.p[1].inTangent, Normalized(normal) * len, 1e-6f));
  // Gamma 90 turns the Out tangent within the plane, to B × t.
  Chain<3> g({{{0, 0, 0}, {1, 1, 0}, {2, 0, 0}}});
  g.p[1].gammaOut = 90;
  g.Compute();
  const Vector3 t{-1, 0, 0};
  Vector3 expected = t;
  CrossInPlace(expected, Normalized(normal));
  EXPECT_TRUE(VectorNear(g.p[1].outTangent, expected, 1e-6f));
}

TEST(BiasTest, ReferenceNormalAtEnds) {
  Chain<2> c({{{0, 0, 0}, {0, 3, 4}}});
  // Only a next: d = normalize(P − Pn) = (0, −0.6, −0.8); B = X × d.
  EXPECT_TRUE(VectorNear(ReferenceNormal(c.p[0]), {0, 0.8f, -0.6f}, 1e-6f));
  // Only a prev: d = normalize(P − Pp) = (0, 0.6, 0.8).
  EXPECT_TRUE(VectorNear(ReferenceNormal(c.p[1]), {0, -0.8f, 0.6f}, 1e-6f));
}

TEST(HermiteTest, BezierAndHermiteFormsAgree) {
  Chain<4> c({{{0, 0, 0}, {1, 2, 0}, {3, 1, 2}, {5, 5, 5}}});
  c.p[1].alphaIn = 20;
  c.p[2].gammaOut = -45;
  c.Compute();
  const ControlPoint& a = c.p[1];
  const ControlPoint& b = c.p[2];
  for (float s = 0.0f; s <= 1.0f; s += 0.125f) {
    const Vector3 bezier = SegmentPoint(a, s);
    const Vector3 hermite = HermitePoint(b.position, a.position, b.outTangent, a.inTangent, 1 - s);
    EXPECT_TRUE(VectorNear(bezier, hermite, 1e-5f)) << s;
  }
  EXPECT_EQ(SegmentPoint(a, 0), a.position);
  EXPECT_TRUE(VectorNear(SegmentPoint(a, 1), b.position, 1e-6f));
}

TEST(HermiteTest, DerivativeMatchesDifferenceQuotient) {
  const Vector3 p0{0, 0, 0}, p1{3, 1, -2}, t0{1, 4, 0}, t1{-2, 0, 1};
  for (float t : {0.0f, 0.3f, 0.7f, 1.0f}) {
    const PointAndDerivative pd = HermitePointAndDerivative(p0, p1, t0, t1, t);
    EXPECT_EQ(pd.point, HermitePoint(p0, p1, t0, t1, t));
    const float h = 1e-3f;
    const Vector3 quotient =
        (HermitePoint(p0, p1, t0, t1, t + h) - HermitePoint(p0, p1, t0, t1, t - h)) / (2 * h);
    EXPECT_TRUE(VectorNear(pd.derivative, quotient, 5e-3f)) << t;
  }
  EXPECT_EQ(HermitePointAndDerivative(p0, p1, t0, t1, 0).derivative, t0);
}

TEST(ForwardDifferenceTest, StepsFollowTheCurveAndLandOnP1) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
  auto rv = [&] { return Vector3{coord(rng), coord(rng), coord(rng)}; };
  for (int trial = 0; trial < 200; ++trial) {
    const Vector3 p0 = rv(), p1 = rv(), t0 = rv(), t1 = rv();
    for (std::int16_t n : {std::int16_t{8}, std::int16_t{30}}) {
      ForwardDifferences fd;
      ForwardDifferenceSetup(fd, p0, p1, t0, t1, n);
      EXPECT_EQ(fd.f, p0);
      for (int i = 1; i <= n; ++i) {
        ForwardDifferenceStep(fd);
        const Vector3 direct = HermitePoint(p0, p1, t0, t1, static_cast<float>(i) / n);
        ASSERT_TRUE(VectorNear(fd.f, direct, 2e-3f)) << "n " << n << " step " << i;
      }
      EXPECT_TRUE(VectorNear(fd.f, p1, 2e-3f));
    }
  }
}

TEST(SegmentLengthTest, StraightAndCurvedSegments) {
  Chain<2> line({{{0, 0, 0}, {3, 4, 0}}});
  line.Compute();
  EXPECT_NEAR(SegmentLength(line.p[0]), 5.0f, 1e-5f);
  EXPECT_EQ(SegmentLength(line.p[1]), 0.0f);  // no next

  // A bulging segment is longer than its chord and shorter than its control
  // polygon.
  Chain<4> c({{{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {2, 2, 0}}});
  c.Compute();
  const float len = SegmentLength(c.p[1]);
  const Vector3 a = c.p[1].position, b = c.p[2].position;
  const Vector3 c1 = a - c.p[1].inTangent / 3.0f, c2 = b + c.p[2].outTangent / 3.0f;
  EXPECT_GT(len, Length(b - a));
  EXPECT_LT(len, Length(c1 - a) + Length(c2 - c1) + Length(b - c2));
}

}  // namespace
}  // namespace zentrope

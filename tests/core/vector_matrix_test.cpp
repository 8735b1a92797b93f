// Vector, matrix and transform arithmetic.
#include <gtest/gtest.h>

#include "core/matrix3.h"
#include "core/transform.h"
#include "core/vector3.h"
#include "support/expect_vector.h"

namespace zentrope {
namespace {

using testing::MatrixNear;
using testing::VectorNear;

TEST(Vector3Test, NormalizeReturnsLengthAndLeavesZeroAlone) {
  Vector3 v{3, 0, 4};
  EXPECT_EQ(Normalize(v), 5.0f);
  EXPECT_TRUE(VectorNear(v, {0.6f, 0.0f, 0.8f}, 1e-7f));

  Vector3 zero;
  EXPECT_EQ(Normalize(zero), 0.0f);
  EXPECT_EQ(zero, Vector3{});

  // No epsilon: a tiny vector still normalises.
  Vector3 tiny{1e-20f, 0, 0};
  EXPECT_GT(Normalize(tiny), 0.0f);
  EXPECT_EQ(tiny, (Vector3{1, 0, 0}));
}

TEST(Vector3Test, CrossInPlacePutsSecondOperandOnTheLeft) {
  const Vector3 x{1, 0, 0}, y{0, 1, 0};
  EXPECT_EQ(Cross(x, y), (Vector3{0, 0, 1}));
  Vector3 a = x;
  CrossInPlace(a, y);  // a := y × a
  EXPECT_EQ(a, (Vector3{0, 0, -1}));
}

TEST(Vector3Test, DivideIsThreeDivisions) {
  // Multiplying by the reciprocal of 3 differs from dividing by 3 in the last
  // bit for some values; the division must match exactly.
  const Vector3 v{1.0f, 10.0f, 7.0f};
  const Vector3 d = v / 3.0f;
  EXPECT_EQ(d.x, 1.0f / 3.0f);
  EXPECT_EQ(d.y, 10.0f / 3.0f);
  EXPECT_EQ(d.z, 7.0f / 3.0f);
}

TEST(Vector3Test, ExactComparisonAndSwap) {
  Vector3 a{1, 2, 3}, b{1, 2, 3.0000005f};
  EXPECT_NE(a, b);
  Swap(a, b);
  EXPECT_EQ(a.z, 3.0000005f);
  EXPECT_EQ(b.z, 3.0f);
}

TEST(Matrix3Test, ProductFollowsRowTimesColumn) {
  const Matrix3 a{{1, 2, 3, 4, 5, 6, 7, 8, 9}};
  const Matrix3 b{{9, 8, 7, 6, 5, 4, 3, 2, 1}};
  const Matrix3 p = a * b;
  EXPECT_EQ(p, (Matrix3{{30, 24, 18, 84, 69, 54, 138, 114, 90}}));
  Matrix3 c = a;
  c *= b;
  EXPECT_EQ(c, p);
  EXPECT_EQ(a * Vector3(1, 0, -1), (Vector3{-2, -2, -2}));
  EXPECT_EQ(Vector3(1, 0, -1) * a, a * Vector3(1, 0, -1));
  EXPECT_EQ(Transpose(a), (Matrix3{{1, 4, 7, 2, 5, 8, 3, 6, 9}}));
}

TEST(Matrix3Test, ElementwiseOperations) {
  const Matrix3 a{{1, 2, 3, 4, 5, 6, 7, 8, 9}};
  EXPECT_EQ(a + a, a * 2.0f);
  EXPECT_EQ(a - a, Matrix3::Filled(0.0f));
  EXPECT_EQ(-a + a, Matrix3::Filled(0.0f));
  EXPECT_EQ((a * 4.0f) / 4.0f, a);
  EXPECT_EQ(Matrix3::FromRows({1, 2, 3}, {4, 5, 6}, {7, 8, 9}), a);
  EXPECT_EQ(a.Column(1), (Vector3{2, 5, 8}));
  EXPECT_EQ(Matrix3::Identity() * a, a);
}

TEST(Matrix3Test, InverseUndoesTheProduct) {
  const Matrix3 a{{2, 0, 1, 1, 3, 0, 0, 1, 4}};
  EXPECT_EQ(Determinant(a), 25.0f);
  EXPECT_TRUE(MatrixNear(a * Inverse(a), Matrix3::Identity(), 1e-6f));
  EXPECT_EQ(Inverse(Matrix3::Filled(1.0f)), Matrix3::Filled(0.0f));  // singular
}

TEST(Matrix3Test, ScaleColumnsIsProductWithDiagonal) {
  const Matrix3 a{{1, 2, 3, 4, 5, 6, 7, 8, 9}};
  Matrix3 s = a;
  ScaleColumns(s, {2, 3, 4});
  const Matrix3 diagonal{{2, 0, 0, 0, 3, 0, 0, 0, 4}};
  EXPECT_EQ(s, a * diagonal);
}

TEST(TransformTest, ApplyToPointWorksInPlace) {
  const Transform t = Transform::FromParts(Matrix3{{0, -1, 0, 1, 0, 0, 0, 0, 1}}, {10, 20, 30});
  Vector3 p{1, 2, 3};
  t.ApplyToPointInPlace(p);
  EXPECT_EQ(p, (Vector3{8, 21, 33}));
  p = t.ApplyToPoint(p);  // output aliases input
  EXPECT_EQ(p, (Vector3{-11, 28, 63}));
}

TEST(TransformTest, DirectionsIgnoreTranslation) {
  const Transform t = Transform::FromParts(Matrix3{{0, -1, 0, 1, 0, 0, 0, 0, 1}}, {10, 20, 30});
  EXPECT_EQ(t.ApplyToDirection({1, 2, 3}), (Vector3{-2, 1, 3}));
  // R·(p + T)
  EXPECT_EQ(t.TranslateThenApply({1, 2, 3}), (Vector3{-22, 11, 33}));
  const Transform tt = t.TransposedCopy();
  EXPECT_EQ(tt.Translation(), Vector3{});
  EXPECT_TRUE(MatrixNear(tt.Linear(), Transpose(t.Linear()), 0.0f));
}

}  // namespace
}  // namespace zentrope

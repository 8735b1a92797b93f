// Quaternion algebra and the matrix conversions.
#include <gtest/gtest.h>

#include <random>

#include "core/quaternion.h"
#include "core/rotation.h"
#include "support/expect_vector.h"

namespace zentrope {
namespace {

using testing::MatrixNear;

TEST(QuaternionTest, ZeroQuaternionGivesStoredLayout) {
  EXPECT_EQ(QuaternionToMatrix(Quaternion{}), (Matrix3{{1, 0, 0, 0, 1, 0, 0, 0, -1}}));
}

TEST(QuaternionTest, AlgebraIdentities) {
  const Quaternion q{1, 2, 3, 4};
  const Quaternion r{-2, 0.5f, 1, 3};
  EXPECT_EQ(SquaredNorm(q), 30.0f);
  EXPECT_EQ(Conjugate(q), (Quaternion{-1, -2, -3, 4}));
  const Quaternion unit = q * Inverse(q);
  EXPECT_NEAR(unit.x, 0.0f, 1e-6f);
  EXPECT_NEAR(unit.y, 0.0f, 1e-6f);
  EXPECT_NEAR(unit.z, 0.0f, 1e-6f);
  EXPECT_NEAR(unit.w, 1.0f, 1e-6f);
  // Hamilton product: i·j = k.
  EXPECT_EQ(Quaternion(1, 0, 0, 0) * Quaternion(0, 1, 0, 0), (Quaternion{0, 0, 1, 0}));
  EXPECT_EQ(q + r, (Quaternion{-1, 2.5f, 4, 7}));
  EXPECT_EQ((q * 2.0f) / 2.0f, q);
  EXPECT_EQ(Quaternion::FromVectors({1, 0, 0}, {0, 1, 0}), (Quaternion{0, 0, 1, 0}));
  EXPECT_EQ(Quaternion(5.0f), (Quaternion{0, 0, 0, 5}));
}

// From a rotation matrix and back gives the rotation with its third column
// negated: the pair round-trips exactly up to that fixed reflection, in every
// branch of the trace method.
void ExpectRoundTrip(const Matrix3& r) {
  const Quaternion q = MatrixToQuaternion(r);
  EXPECT_NEAR(SquaredNorm(q), 1.0f, 1e-5f);
  Matrix3 expected = r;
  ScaleColumns(expected, {1, 1, -1});
  EXPECT_TRUE(MatrixNear(QuaternionToMatrix(q), expected, 2e-5f));
  // Scaling the quaternion does not change the matrix.
  EXPECT_TRUE(MatrixNear(QuaternionToMatrix(q * 3.0f), expected, 2e-5f));
}

TEST(QuaternionTest, RoundTripThroughEveryBranch) {
  ExpectRoundTrip(Matrix3::Identity());
  ExpectRoundTrip(BuildRotation({}, {180, 0, 0}).Linear());  // m0 largest, trace −1
  ExpectRoundTrip(BuildRotation({}, {0, 0, 180}).Linear());  // m4 largest
  ExpectRoundTrip(BuildRotation({}, {0, 180, 0}).Linear());  // m8 largest
  ExpectRoundTrip(BuildRotation({}, {170, 10, 5}).Linear());
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
  for (int i = 0; i < 300; ++i) {
    ExpectRoundTrip(BuildRotation({}, {angle(rng), angle(rng), angle(rng)}).Linear());
  }
}

TEST(QuaternionTest, ConjugateRotationForUnitQuaternion) {
  // A quarter turn about Z: q = (0, 0, sin 45, cos 45). The stored layout is
  // the rotation by −90 about Z with the third column negated.
  const float h = std::sqrt(0.5f);
  const Matrix3 m = QuaternionToMatrix({0, 0, h, h});
  EXPECT_TRUE(MatrixNear(m, Matrix3{{0, 1, 0, -1, 0, 0, 0, 0, -1}}, 1e-6f));
}

}  // namespace
}  // namespace zentrope

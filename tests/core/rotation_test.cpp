// The Euler-angle rotation builders against products of elementary rotations.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "core/rotation.h"
#include "support/elementary_rotations.h"
#include "support/expect_vector.h"

namespace zentrope {
namespace {

using testing::MatrixNear;
using testing::Rx;
using testing::Ry;
using testing::Rz;
using testing::VectorNear;

TEST(RotationTest, BuildRotationIsProductOfElementaryRotations) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> angle(-400.0f, 400.0f);
  for (int i = 0; i < 500; ++i) {
    const Vector3 a{angle(rng), angle(rng), angle(rng)};
    const Transform t = BuildRotation({1, 2, 3}, a);
    const Matrix3 expected = Rx(-a.x) * Rz(-a.y) * Ry(-a.z);
    ASSERT_TRUE(MatrixNear(t.Linear(), expected, 2e-6f)) << a.x << " " << a.y << " " << a.z;
    EXPECT_EQ(t.Translation(), (Vector3{1, 2, 3}));
  }
}

TEST(RotationTest, BuildRotationQuarterTurnAboutZ) {
  const Transform t = BuildRotation({}, {0, 90, 0});
  EXPECT_TRUE(MatrixNear(t.Linear(), Matrix3{{0, 1, 0, -1, 0, 0, 0, 0, 1}}, 1e-7f));
  // Turning order: Y first, then Z, then X. A point on X turned by a2 = 90
  // about Y in the negative sense goes to +Z.
  const Transform y = BuildRotation({}, {0, 0, 90});
  EXPECT_TRUE(VectorNear(y.ApplyToPoint({1, 0, 0}), {0, 0, 1}, 1e-7f));
}

TEST(RotationTest, BuildRollRotationIsProductOfElementaryRotations) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> angle(-400.0f, 400.0f);
  for (int i = 0; i < 500; ++i) {
    const Vector3 a{angle(rng), angle(rng), angle(rng)};
    const Transform t = BuildRollRotation({-1, 0, 5}, a);
    const Matrix3 expected = Ry(-a.y) * Rx(-a.x) * Ry(-(static_cast<double>(a.z) - a.y));
    ASSERT_TRUE(MatrixNear(t.Linear(), expected, 2e-6f)) << a.x << " " << a.y << " " << a.z;
    EXPECT_EQ(t.Translation(), (Vector3{-1, 0, 5}));
  }
}

TEST(RotationTest, EqualSecondAndThirdAnglesMeanNoRoll) {
  for (float a1 : {-170.0f, -45.0f, 0.0f, 30.0f, 90.0f, 123.5f}) {
    const Transform t = BuildRollRotation({}, {0, a1, a1});
    EXPECT_TRUE(MatrixNear(t.Linear(), Ry(-a1), 1e-6f)) << a1;
  }
}

TEST(RotationTest, BuildersGiveOrthonormalMatrices) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
  for (int i = 0; i < 100; ++i) {
    const Vector3 a{angle(rng), angle(rng), angle(rng)};
    for (const Transform& t : {BuildRotation({}, a), BuildRollRotation({}, a)}) {
      const Matrix3 r = t.Linear();
      EXPECT_TRUE(MatrixNear(r * Transpose(r), Matrix3::Identity(), 1e-6f));
    }
  }
}

}  // namespace
}  // namespace zentrope

// Near-equality checks for vectors and matrices in tests.
#pragma once

#include <gtest/gtest.h>

#include "core/matrix3.h"
#include "core/vector3.h"

namespace zentrope::testing {

inline ::testing::AssertionResult VectorNear(const Vector3& a, const Vector3& b, float tol) {
  if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                       << b.x << ", " << b.y << ", " << b.z << ") tol " << tol;
}

inline ::testing::AssertionResult MatrixNear(const Matrix3& a, const Matrix3& b, float tol) {
  for (int i = 0; i < 9; ++i) {
    if (std::fabs(a.m[i] - b.m[i]) > tol) {
      return ::testing::AssertionFailure()
             << "element " << i << ": " << a.m[i] << " vs " << b.m[i] << " tol " << tol;
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace zentrope::testing

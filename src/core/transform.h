// Transform: a 3x4 affine transform of twelve floats. t0..t8 are the row-major
// linear part R (column vectors, as Matrix3), t9..t11 the translation T.
#pragma once

#include <array>

#include "core/matrix3.h"
#include "core/vector3.h"

namespace zentrope {

struct Transform {
  std::array<float, 12> t{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

  constexpr bool operator==(const Transform&) const = default;

  static constexpr Transform Identity() { return {}; }
  static Transform FromParts(const Matrix3& linear, const Vector3& translation);

  Matrix3 Linear() const;
  void SetLinear(const Matrix3& linear);
  constexpr Vector3 Translation() const { return {t[9], t[10], t[11]}; }
  constexpr void SetTranslation(const Vector3& v) {
    t[9] = v.x;
    t[10] = v.y;
    t[11] = v.z;
  }

  // p' = R·p + T. All three results are computed before any is stored, so the
  // output may alias the input.
  Vector3 ApplyToPoint(const Vector3& p) const;
  void ApplyToPointInPlace(Vector3& p) const { p = ApplyToPoint(p); }
  // Apply to point, then subtract T: how tangents are transformed.
  Vector3 ApplyToDirection(const Vector3& d) const;
  // p' = R·(p + T).
  Vector3 TranslateThenApply(const Vector3& p) const;
  // Linear part Rᵀ and zero translation.
  Transform TransposedCopy() const;
};

// Composition: (a * b) applied to p is a applied to (b applied to p).
Transform operator*(const Transform& a, const Transform& b);

}  // namespace zentrope

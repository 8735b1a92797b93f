// Euler-angle rotation builders, written out element by element.
#include "core/rotation.h"

#include <cmath>
#include <numbers>

namespace zentrope {

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

}  // namespace

void BuildRotation(Transform& out, const Vector3& translation, const Vector3& angles) {
  const double a0 = angles.x * kRadiansPerDegree;
  const double a1 = angles.y * kRadiansPerDegree;
  const double a2 = angles.z * kRadiansPerDegree;
  const double s0 = std::sin(a0), c0 = std::cos(a0);
  const double s1 = std::sin(a1), c1 = std::cos(a1);
  const double s2 = std::sin(a2), c2 = std::cos(a2);
  const double r[9] = {
      c2 * c1,
      s1,
      -s2 * c1,
      s2 * s0 - c0 * s1 * c2,
      c0 * c1,
      c2 * s0 + c0 * s2 * s1,
      s1 * s0 * c2 + c0 * s2,
      -s0 * c1,
      c2 * c0 - s1 * s2 * s0,
  };
  for (int i = 0; i < 9; ++i) {
    out.t[i] = static_cast<float>(r[i]);
  }
  out.SetTranslation(translation);
}

Transform BuildRotation(const Vector3& translation, const Vector3& angles) {
  Transform t;
  BuildRotation(t, translation, angles);
  return t;
}

void BuildRollRotation(Transform& out, const Vector3& translation, const Vector3& angles) {
  const double p = angles.x * kRadiansPerDegree;
  const double q = angles.y * kRadiansPerDegree;
  const double r = (static_cast<double>(angles.z) - angles.y) * kRadiansPerDegree;
  const double sp = std::sin(p), cp = std::cos(p);
  const double sq = std::sin(q), cq = std::cos(q);
  const double sr = std::sin(r), cr = std::cos(r);
  const double m[9] = {
      cq * cr - cp * sr * sq, sq * sp,  -(cq * sr + cp * cr * sq), sr * sp, cp, sp * cr,
      cr * sq + cp * sr * cq, -cq * sp, cp * cr * cq - sq * sr,
  };
  for (int i = 0; i < 9; ++i) {
    out.t[i] = static_cast<float>(m[i]);
  }
  out.SetTranslation(translation);
}

Transform BuildRollRotation(const Vector3& translation, const Vector3& angles) {
  Transform t;
  BuildRollRotation(t, translation, angles);
  return t;
}

}  // namespace zentrope

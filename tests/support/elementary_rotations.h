// The usual right-handed elementary rotations (degrees), for composing
// expected transforms by hand in tests.
#pragma once

#include <cmath>
#include <numbers>

#include "core/matrix3.h"

namespace zentrope::testing {

inline double Rad(double degrees) {
  return degrees * std::numbers::pi / 180.0;
}

inline Matrix3 Rx(double d) {
  const auto c = static_cast<float>(std::cos(Rad(d))), s = static_cast<float>(std::sin(Rad(d)));
  return {{1, 0, 0, 0, c, -s, 0, s, c}};
}
inline Matrix3 Ry(double d) {
  const auto c = static_cast<float>(std::cos(Rad(d))), s = static_cast<float>(std::sin(Rad(d)));
  return {{c, 0, s, 0, 1, 0, -s, 0, c}};
}
inline Matrix3 Rz(double d) {
  const auto c = static_cast<float>(std::cos(Rad(d))), s = static_cast<float>(std::sin(Rad(d)));
  return {{c, -s, 0, s, c, 0, 0, 0, 1}};
}
// The roll-relative rotation: Ry(−a1)·Rx(−a0)·Ry(−(a2 − a1)).
inline Matrix3 Roll(const Vector3& a) {
  return Ry(-a.y) * Rx(-a.x) * Ry(-(a.z - a.y));
}

}  // namespace zentrope::testing

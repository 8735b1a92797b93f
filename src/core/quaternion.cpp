// Quaternion to and from matrix.
#include "core/quaternion.h"

#include <cmath>

namespace zentrope {

Matrix3 QuaternionToMatrix(const Quaternion& q) {
  const double norm = SquaredNorm(q);
  const double s = norm == 0.0 ? 0.0 : 2.0 / norm;
  const double x = q.x, y = q.y, z = q.z, w = q.w;
  const double e[9] = {
      1.0 - s * (z * z + y * y), s * (x * y + w * z),       s * (w * y - x * z),
      s * (x * y - w * z),       1.0 - s * (z * z + x * x), -s * (w * x + z * y),
      s * (w * y + x * z),       s * (z * y - w * x),       s * (x * x + y * y) - 1.0,
  };
  Matrix3 m;
  for (int i = 0; i < 9; ++i) {
    m.m[i] = static_cast<float>(e[i]);
  }
  return m;
}

Quaternion MatrixToQuaternion(const Matrix3& m) {
  const double m0 = m.m[0], m1 = m.m[1], m2 = m.m[2];
  const double m3 = m.m[3], m4 = m.m[4], m5 = m.m[5];
  const double m6 = m.m[6], m7 = m.m[7], m8 = m.m[8];
  double x, y, z, w;
  const double trace = m0 + m4 + m8;
  if (trace >= 0.0) {
    const double root = std::sqrt(trace + 1.0);
    w = 0.5 * root;
    const double k = 0.5 / root;
    x = (m7 - m5) * k;
    y = (m2 - m6) * k;
    z = (m3 - m1) * k;
  } else if (m0 >= m4 && m0 >= m8) {
    const double root = std::sqrt(m0 - m4 - m8 + 1.0);
    x = 0.5 * root;
    const double k = 0.5 / root;
    y = (m1 + m3) * k;
    z = (m2 + m6) * k;
    w = (m7 - m5) * k;
  } else if (m4 >= m8) {
    const double root = std::sqrt(m4 - m8 - m0 + 1.0);
    y = 0.5 * root;
    const double k = 0.5 / root;
    z = (m5 + m7) * k;
    x = (m1 + m3) * k;
    w = (m2 - m6) * k;
  } else {
    const double root = std::sqrt(m8 - m0 - m4 + 1.0);
    z = 0.5 * root;
    const double k = 0.5 / root;
    x = (m2 + m6) * k;
    y = (m5 + m7) * k;
    w = (m3 - m1) * k;
  }
  return {static_cast<float>(-x), static_cast<float>(-y), static_cast<float>(-z),
          static_cast<float>(w)};
}

}  // namespace zentrope

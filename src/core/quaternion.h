// Quaternion: four floats, vector part (x, y, z) first, scalar w last, with
// the conversions to and from Matrix3 that the material module's rigid
// channels use as a pair.
#pragma once

#include "core/matrix3.h"
#include "core/vector3.h"

namespace zentrope {

struct Quaternion {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 0.0f;

  constexpr Quaternion() = default;
  constexpr Quaternion(float xIn, float yIn, float zIn, float wIn)
      : x(xIn), y(yIn), z(zIn), w(wIn) {}
  constexpr Quaternion(const Vector3& v, float s) : x(v.x), y(v.y), z(v.z), w(s) {}
  constexpr explicit Quaternion(float s) : w(s) {}
  // (a × b, a·b).
  static constexpr Quaternion FromVectors(const Vector3& a, const Vector3& b) {
    return {Cross(a, b), Dot(a, b)};
  }

  constexpr bool operator==(const Quaternion&) const = default;
  constexpr Vector3 Vector() const { return {x, y, z}; }
};

constexpr float SquaredNorm(const Quaternion& q) {
  return q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
}
constexpr Quaternion Conjugate(const Quaternion& q) {
  return {-q.x, -q.y, -q.z, q.w};
}
constexpr Quaternion operator+(const Quaternion& a, const Quaternion& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w};
}
constexpr Quaternion operator*(const Quaternion& a, float s) {
  return {a.x * s, a.y * s, a.z * s, a.w * s};
}
constexpr Quaternion operator/(const Quaternion& a, float s) {
  return {a.x / s, a.y / s, a.z / s, a.w / s};
}
// Conjugate divided by the squared norm.
constexpr Quaternion Inverse(const Quaternion& q) {
  return Conjugate(q) / SquaredNorm(q);
}
// (a.v × b.v + b.w·a.v + a.w·b.v, a.w·b.w − a.v·b.v).
constexpr Quaternion operator*(const Quaternion& a, const Quaternion& b) {
  return {Cross(a.Vector(), b.Vector()) + b.w * a.Vector() + a.w * b.Vector(),
          a.w * b.w - Dot(a.Vector(), b.Vector())};
}

// The stored matrix layout: for a unit quaternion q this is the rotation of
// the conjugate of q with its third column negated; the zero quaternion gives
// diag(1, 1, −1).
Matrix3 QuaternionToMatrix(const Quaternion& q);
// Trace method with the vector part negated at the end, so that
// QuaternionToMatrix(MatrixToQuaternion(R)) is R with its third column negated.
Quaternion MatrixToQuaternion(const Matrix3& m);

}  // namespace zentrope

// Vector3: the three-float value type used for positions, directions, tangents,
// scales, colours and Euler angles (a0, a1, a2 in degrees).
#pragma once

#include <cmath>

namespace zentrope {

struct Vector3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Vector3() = default;
  constexpr Vector3(float xIn, float yIn, float zIn) : x(xIn), y(yIn), z(zIn) {}

  // Exact comparison of all three components.
  constexpr bool operator==(const Vector3&) const = default;

  constexpr Vector3 operator-() const { return {-x, -y, -z}; }
  constexpr Vector3& operator+=(const Vector3& b) {
    x += b.x;
    y += b.y;
    z += b.z;
    return *this;
  }
  constexpr Vector3& operator-=(const Vector3& b) {
    x -= b.x;
    y -= b.y;
    z -= b.z;
    return *this;
  }
  constexpr Vector3& operator*=(float s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  // Three divisions, not a multiplication by the reciprocal: the results must
  // match a/s exactly.
  constexpr Vector3& operator/=(float s) {
    x /= s;
    y /= s;
    z /= s;
    return *this;
  }
};

constexpr Vector3 operator+(Vector3 a, const Vector3& b) {
  return a += b;
}
constexpr Vector3 operator-(Vector3 a, const Vector3& b) {
  return a -= b;
}
constexpr Vector3 operator*(Vector3 a, float s) {
  return a *= s;
}
constexpr Vector3 operator*(float s, Vector3 a) {
  return a *= s;
}
constexpr Vector3 operator/(Vector3 a, float s) {
  return a /= s;
}

constexpr float Dot(const Vector3& a, const Vector3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

constexpr Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// In-place cross with the second operand on the left: a := b × a.
constexpr void CrossInPlace(Vector3& a, const Vector3& b) {
  a = Cross(b, a);
}

inline float Length(const Vector3& a) {
  double xx = a.x, yy = a.y, zz = a.z;
  return static_cast<float>(std::sqrt(xx * xx + yy * yy + zz * zz));
}

// Divides each component by the length and returns the length. A vector of
// length exactly 0 is left unchanged (no epsilon).
inline float Normalize(Vector3& a) {
  float len = Length(a);
  if (len == 0.0f) {
    return 0.0f;
  }
  a /= len;
  return len;
}

inline Vector3 Normalized(Vector3 a) {
  Normalize(a);
  return a;
}

inline void Swap(Vector3& a, Vector3& b) {
  Vector3 t = a;
  a = b;
  b = t;
}

}  // namespace zentrope

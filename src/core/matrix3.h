// Matrix3: a row-major 3x3 float matrix that multiplies column vectors
// (v' = M·v); element m(3i + j) is row i, column j.
#pragma once

#include <array>

#include "core/vector3.h"

namespace zentrope {

struct Matrix3 {
  std::array<float, 9> m{};

  constexpr bool operator==(const Matrix3&) const = default;

  static constexpr Matrix3 Identity() { return {{1, 0, 0, 0, 1, 0, 0, 0, 1}}; }
  static constexpr Matrix3 FromRows(const Vector3& r0, const Vector3& r1, const Vector3& r2) {
    return {{r0.x, r0.y, r0.z, r1.x, r1.y, r1.z, r2.x, r2.y, r2.z}};
  }
  // Every element set to one scalar.
  static constexpr Matrix3 Filled(float s) { return {{s, s, s, s, s, s, s, s, s}}; }

  constexpr float& operator()(int row, int col) { return m[row * 3 + col]; }
  constexpr float operator()(int row, int col) const { return m[row * 3 + col]; }
  constexpr Vector3 Row(int i) const { return {m[3 * i], m[3 * i + 1], m[3 * i + 2]}; }
  constexpr Vector3 Column(int j) const { return {m[j], m[3 + j], m[6 + j]}; }

  Matrix3& operator+=(const Matrix3& b);
  Matrix3& operator-=(const Matrix3& b);
  Matrix3& operator*=(float s);
  Matrix3& operator/=(float s);
  // In-place product A := A·B.
  Matrix3& operator*=(const Matrix3& b);
};

Matrix3 operator+(Matrix3 a, const Matrix3& b);
Matrix3 operator-(Matrix3 a, const Matrix3& b);
Matrix3 operator-(const Matrix3& a);
Matrix3 operator*(Matrix3 a, float s);
Matrix3 operator/(Matrix3 a, float s);
// P = A·B with p(i,j) = Σk a(i,k)·b(k,j).
Matrix3 operator*(const Matrix3& a, const Matrix3& b);
// Each result component is the dot product of a row with the vector.
Vector3 operator*(const Matrix3& a, const Vector3& v);
// The vector-times-matrix form: the same row-dot products, operands swapped.
Vector3 operator*(const Vector3& v, const Matrix3& a);

Matrix3 Transpose(const Matrix3& a);
float Determinant(const Matrix3& a);
// The inverse by the adjugate; a singular matrix gives the zero matrix.
Matrix3 Inverse(const Matrix3& a);
void Swap(Matrix3& a, Matrix3& b);
// M := M·diag(s): column j is multiplied by s[j] (how a segment's scale enters
// its transform).
void ScaleColumns(Matrix3& a, const Vector3& s);

}  // namespace zentrope

// Matrix3 arithmetic.
#include "core/matrix3.h"

namespace zentrope {

Matrix3& Matrix3::operator+=(const Matrix3& b) {
  for (int i = 0; i < 9; ++i) {
    m[i] += b.m[i];
  }
  return *this;
}

Matrix3& Matrix3::operator-=(const Matrix3& b) {
  for (int i = 0; i < 9; ++i) {
    m[i] -= b.m[i];
  }
  return *this;
}

Matrix3& Matrix3::operator*=(float s) {
  for (float& e : m) {
    e *= s;
  }
  return *this;
}

Matrix3& Matrix3::operator/=(float s) {
  for (float& e : m) {
    e /= s;
  }
  return *this;
}

Matrix3& Matrix3::operator*=(const Matrix3& b) {
  *this = *this * b;
  return *this;
}

Matrix3 operator+(Matrix3 a, const Matrix3& b) {
  return a += b;
}
Matrix3 operator-(Matrix3 a, const Matrix3& b) {
  return a -= b;
}
Matrix3 operator-(const Matrix3& a) {
  Matrix3 r;
  for (int i = 0; i < 9; ++i) {
    r.m[i] = -a.m[i];
  }
  return r;
}
Matrix3 operator*(Matrix3 a, float s) {
  return a *= s;
}
Matrix3 operator/(Matrix3 a, float s) {
  return a /= s;
}

Matrix3 operator*(const Matrix3& a, const Matrix3& b) {
  Matrix3 p;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) {
        sum += static_cast<double>(a(i, k)) * b(k, j);
      }
      p(i, j) = static_cast<float>(sum);
    }
  }
  return p;
}

Vector3 operator*(const Matrix3& a, const Vector3& v) {
  return {Dot(a.Row(0), v), Dot(a.Row(1), v), Dot(a.Row(2), v)};
}

Vector3 operator*(const Vector3& v, const Matrix3& a) {
  return a * v;
}

Matrix3 Transpose(const Matrix3& a) {
  Matrix3 t;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      t(i, j) = a(j, i);
    }
  }
  return t;
}

float Determinant(const Matrix3& a) {
  const double d =
      static_cast<double>(a.m[0]) *
          (static_cast<double>(a.m[4]) * a.m[8] - static_cast<double>(a.m[5]) * a.m[7]) -
      static_cast<double>(a.m[1]) *
          (static_cast<double>(a.m[3]) * a.m[8] - static_cast<double>(a.m[5]) * a.m[6]) +
      static_cast<double>(a.m[2]) *
          (static_cast<double>(a.m[3]) * a.m[7] - static_cast<double>(a.m[4]) * a.m[6]);
  return static_cast<float>(d);
}

Matrix3 Inverse(const Matrix3& a) {
  const double det = Determinant(a);
  if (det == 0.0) {
    return Matrix3::Filled(0.0f);
  }
  const auto e = [&a](int r, int c) { return static_cast<double>(a(r, c)); };
  Matrix3 inv;
  inv(0, 0) = static_cast<float>((e(1, 1) * e(2, 2) - e(1, 2) * e(2, 1)) / det);
  inv(0, 1) = static_cast<float>((e(0, 2) * e(2, 1) - e(0, 1) * e(2, 2)) / det);
  inv(0, 2) = static_cast<float>((e(0, 1) * e(1, 2) - e(0, 2) * e(1, 1)) / det);
  inv(1, 0) = static_cast<float>((e(1, 2) * e(2, 0) - e(1, 0) * e(2, 2)) / det);
  inv(1, 1) = static_cast<float>((e(0, 0) * e(2, 2) - e(0, 2) * e(2, 0)) / det);
  inv(1, 2) = static_cast<float>((e(0, 2) * e(1, 0) - e(0, 0) * e(1, 2)) / det);
  inv(2, 0) = static_cast<float>((e(1, 0) * e(2, 1) - e(1, 1) * e(2, 0)) / det);
  inv(2, 1) = static_cast<float>((e(0, 1) * e(2, 0) - e(0, 0) * e(2, 1)) / det);
  inv(2, 2) = static_cast<float>((e(0, 0) * e(1, 1) - e(0, 1) * e(1, 0)) / det);
  return inv;
}

void Swap(Matrix3& a, Matrix3& b) {
  Matrix3 t = a;
  a = b;
  b = t;
}

void ScaleColumns(Matrix3& a, const Vector3& s) {
  const float f[3] = {s.x, s.y, s.z};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      a(i, j) *= f[j];
    }
  }
}

}  // namespace zentrope

// Transform application.
#include "core/transform.h"

namespace zentrope {

namespace {

// One row of R·p + offset, summed in double and rounded once.
float RowDot(const std::array<float, 12>& t, int row, const Vector3& p, float offset) {
  double sum = static_cast<double>(t[3 * row]) * p.x + static_cast<double>(t[3 * row + 1]) * p.y +
               static_cast<double>(t[3 * row + 2]) * p.z + offset;
  return static_cast<float>(sum);
}

}  // namespace

Transform Transform::FromParts(const Matrix3& linear, const Vector3& translation) {
  Transform r;
  r.SetLinear(linear);
  r.SetTranslation(translation);
  return r;
}

Matrix3 Transform::Linear() const {
  Matrix3 m;
  for (int i = 0; i < 9; ++i) {
    m.m[i] = t[i];
  }
  return m;
}

void Transform::SetLinear(const Matrix3& linear) {
  for (int i = 0; i < 9; ++i) {
    t[i] = linear.m[i];
  }
}

Vector3 Transform::ApplyToPoint(const Vector3& p) const {
  return {RowDot(t, 0, p, t[9]), RowDot(t, 1, p, t[10]), RowDot(t, 2, p, t[11])};
}

Vector3 Transform::ApplyToDirection(const Vector3& d) const {
  return ApplyToPoint(d) - Translation();
}

Vector3 Transform::TranslateThenApply(const Vector3& p) const {
  return {RowDot(t, 0, p + Translation(), 0.0f), RowDot(t, 1, p + Translation(), 0.0f),
          RowDot(t, 2, p + Translation(), 0.0f)};
}

Transform Transform::TransposedCopy() const {
  return FromParts(Transpose(Linear()), Vector3{});
}

Transform operator*(const Transform& a, const Transform& b) {
  return Transform::FromParts(a.Linear() * b.Linear(), a.ApplyToPoint(b.Translation()));
}

}  // namespace zentrope

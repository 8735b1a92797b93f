// Tangent derivation, bias, and segment evaluation.
#include "core/spline.h"

#include <cmath>

namespace zentrope {

namespace {

constexpr Vector3 kAxisX{1.0f, 0.0f, 0.0f};

// Integer part of a float without undefined behaviour on huge values or NaN.
std::int64_t SaturatingTrunc(float v) {
  if (std::isnan(v)) {
    return 0;
  }
  constexpr double kLimit = 9.0e18;
  const double t = std::trunc(static_cast<double>(v));
  if (t >= kLimit) {
    return static_cast<std::int64_t>(kLimit);
  }
  if (t <= -kLimit) {
    return -static_cast<std::int64_t>(kLimit);
  }
  return static_cast<std::int64_t>(t);
}

void BaseTangents(ControlPoint& p) {
  const ControlPoint* pp = p.prev;
  const ControlPoint* pn = p.next;
  if (p.Has(kPointSmooth) && pp && pn) {
    Vector3 d = pp->position - pn->position;
    const float len = Length(d);
    if (len == 0.0f) {
      p.inTangent = Vector3{};
      p.outTangent = Vector3{};
      return;
    }
    const Vector3 u = d / len;
    const float a = Length(p.position - pn->position);
    const float b = Length(pp->position - p.position);
    const float scale = (a + b) / len;
    p.inTangent = u * (a / scale);
    p.outTangent = u * (b / scale);
    return;
  }
  if (pn) {
    p.inTangent = (p.position - pn->position) * 0.5f;
  }
  if (pp) {
    p.outTangent = (pp->position - p.position) * 0.5f;
  }
  if (!pp) {
    p.outTangent = p.inTangent;
  } else if (!pn) {
    p.inTangent = p.outTangent;
  }
}

}  // namespace

Vector3 ReferenceNormal(const ControlPoint& p) {
  const ControlPoint* pp = p.prev;
  const ControlPoint* pn = p.next;
  if (pp && pn) {
    const Vector3 u = Normalized(p.position - pn->position);
    const Vector3 w = Normalized(pp->position - p.position);
    return Cross(u, w);
  }
  if (pp) {
    return Cross(kAxisX, Normalized(p.position - pp->position));
  }
  if (pn) {
    return Cross(kAxisX, Normalized(p.position - pn->position));
  }
  return {};
}

Vector3 RotateTowards(const Vector3& a, const Vector3& b, float angle) {
  if (angle < 0.0f) {
    const auto whole = static_cast<std::int16_t>(SaturatingTrunc(angle));
    angle = static_cast<float>(whole % 360 + 360);
  } else if (angle > 360.0f) {
    angle = static_cast<float>(SaturatingTrunc(angle) % 360);
  }
  // Exactly 360 is 0. A negative angle whose 16-bit value wrapped positive can
  // land above 360; wrap it again rather than extrapolate past the last blend.
  if (angle >= 360.0f) {
    angle = std::fmod(angle, 360.0f);
  }
  Vector3 out;
  Vector3 target;
  float k;
  if (angle < 90.0f) {
    out = a;
    target = b;
    k = angle;
  } else if (angle < 180.0f) {
    out = b;
    target = -a;
    k = angle - 90.0f;
  } else if (angle < 270.0f) {
    out = -a;
    target = -b;
    k = angle - 180.0f;
  } else {
    out = -b;
    target = a;
    k = angle - 270.0f;
  }
  if (k != 0.0f) {
    out = out + (target - out) * (k * (1.0f / 90.0f));
    Normalize(out);
  }
  Normalize(out);
  return out;
}

void ApplyBias(Vector3& tangent, const Bias& bias, const Vector3& referenceNormal) {
  const float len = Length(tangent);
  if (len == 0.0f) {
    return;
  }
  const Vector3 t = tangent / len;
  Vector3 c = t;
  CrossInPlace(c, referenceNormal);
  const Vector3 m = RotateTowards(t, referenceNormal, bias.alpha);
  const Vector3 turned = RotateTowards(m, c, bias.gamma);
  tangent = turned * len * bias.magnitude;
}

void ComputeTangents(ControlPoint& p) {
  BaseTangents(p);
  const Vector3 normal = ReferenceNormal(p);
  ApplyBias(p.inTangent, p.InBias(), normal);
  ApplyBias(p.outTangent, p.OutBias(), normal);
}

void ComputeTangentsAround(ControlPoint& k) {
  ComputeTangents(k);
  if (k.prev) {
    ComputeTangents(*k.prev);
  }
  if (k.next) {
    ComputeTangents(*k.next);
  }
}

void ComputeSplineTangents(ControlPoint* first) {
  for (ControlPoint* p = first; p; p = NextInTraversal(p)) {
    ComputeTangents(*p);
  }
}

Vector3 SegmentPoint(const ControlPoint& a, float s) {
  if (!a.next) {
    return a.position;
  }
  const ControlPoint& b = *a.next;
  const Vector3 c0 = a.position;
  const Vector3 c1 = a.position - a.inTangent / 3.0f;
  const Vector3 c2 = b.position + b.outTangent / 3.0f;
  const Vector3 c3 = b.position;
  const float r = 1.0f - s;
  return c0 * (r * r * r) + c1 * (3.0f * s * r * r) + c2 * (3.0f * s * s * r) + c3 * (s * s * s);
}

HermiteCoefficients MakeHermite(const Vector3& p0, const Vector3& p1, const Vector3& t0,
                                const Vector3& t1) {
  return {(p0 - p1) * 2.0f + t0 + t1, (p1 - p0) * 3.0f - t0 * 2.0f - t1, t0, p0};
}

Vector3 HermitePoint(const Vector3& p0, const Vector3& p1, const Vector3& t0, const Vector3& t1,
                     float t) {
  const HermiteCoefficients h = MakeHermite(p0, p1, t0, t1);
  return h.a * (t * t * t) + h.b * (t * t) + h.c * t + h.d;
}

PointAndDerivative HermitePointAndDerivative(const Vector3& p0, const Vector3& p1,
                                             const Vector3& t0, const Vector3& t1, float t) {
  const HermiteCoefficients h = MakeHermite(p0, p1, t0, t1);
  return {h.a * (t * t * t) + h.b * (t * t) + h.c * t + h.d,
          h.a * (3.0f * t * t) + h.b * (2.0f * t) + h.c};
}

void ForwardDifferenceSetup(ForwardDifferences& table, const Vector3& p0, const Vector3& p1,
                            const Vector3& t0, const Vector3& t1, std::int16_t steps) {
  const double hd = 1.0 / steps;
  const double h2d = hd * hd;
  const double h3d = h2d * hd;
  const float h = static_cast<float>(hd);
  const float h2 = static_cast<float>(h2d);
  const float h3 = static_cast<float>(h3d);
  const float sixH3 = static_cast<float>(6.0 * h3);
  const float twoH2 = static_cast<float>(2.0 * h2);
  const HermiteCoefficients c = MakeHermite(p0, p1, t0, t1);
  table.f = c.d;
  table.d1 = c.a * h3 + c.b * h2 + c.c * h;
  table.d2 = c.a * sixH3 + c.b * twoH2;
  table.d3 = c.a * sixH3;
}

void ForwardDifferenceStep(ForwardDifferences& table) {
  table.f += table.d1;
  table.d1 += table.d2;
  table.d2 += table.d3;
}

void SegmentChords(const ControlPoint& a, std::array<float, kLengthSteps>& chords) {
  chords.fill(0.0f);
  if (!a.next) {
    return;
  }
  const ControlPoint& b = *a.next;
  ForwardDifferences fd;
  ForwardDifferenceSetup(fd, b.position, a.position, b.outTangent, a.inTangent, kLengthSteps);
  Vector3 previous = fd.f;
  for (int i = 0; i < kLengthSteps; ++i) {
    ForwardDifferenceStep(fd);
    chords[static_cast<std::size_t>(i)] = Length(fd.f - previous);
    previous = fd.f;
  }
}

float SegmentLength(const ControlPoint& a) {
  std::array<float, kLengthSteps> chords;
  SegmentChords(a, chords);
  float length = 0.0f;
  for (float c : chords) {
    length += c;
  }
  return length;
}

}  // namespace zentrope

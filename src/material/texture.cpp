// Value noise, turbulence and the three patterns.
#include "material/texture.h"

#include <algorithm>
#include <cmath>

namespace zentrope {

namespace {

// The lattice term of one axis: trunc(frac(0.628318·i)·period). Worked in
// double so that far-out lattice points still give a table index.
int LatticeTerm(double i, double period) {
  const double a = 0.628318 * i;
  const double frac = a - std::floor(a);
  return static_cast<int>(frac * period);
}

float CornerValue(double i, double j, double k) {
  const int index =
      (LatticeTerm(i, 199.0) + LatticeTerm(j, 249.0) + LatticeTerm(k, 332.0)) % kNoiseTableSize;
  return kNoiseTable[static_cast<std::size_t>(index)];
}

float Weight(float f) {
  return f <= 0.5f ? 2.0f * f * f : 1.0f - 2.0f * (1.0f - f) * (1.0f - f);
}

float Lerp(float a, float b, float w) {
  return a + (b - a) * w;
}

// Per axis (p − T) / S, 0 on an axis whose scale is 0.
Vector3 PatternSpace(const PatternValues& v, const Vector3& p) {
  const auto axis = [](float point, float t, float s) {
    return s != 0.0f ? (point - t) / s : 0.0f;
  };
  return {axis(p.x, v.translate.x, v.scale.x), axis(p.y, v.translate.y, v.scale.y),
          axis(p.z, v.translate.z, v.scale.z)};
}

}  // namespace

float ValueNoise(const Vector3& p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
    return 0.0f;
  }
  const double ix = std::floor(static_cast<double>(p.x));
  const double iy = std::floor(static_cast<double>(p.y));
  const double iz = std::floor(static_cast<double>(p.z));
  const float sx = Weight(static_cast<float>(static_cast<double>(p.x) - ix));
  const float sy = Weight(static_cast<float>(static_cast<double>(p.y) - iy));
  const float sz = Weight(static_cast<float>(static_cast<double>(p.z) - iz));
  // Along x first, then y, then z.
  const float x00 = Lerp(CornerValue(ix, iy, iz), CornerValue(ix + 1, iy, iz), sx);
  const float x10 = Lerp(CornerValue(ix, iy + 1, iz), CornerValue(ix + 1, iy + 1, iz), sx);
  const float x01 = Lerp(CornerValue(ix, iy, iz + 1), CornerValue(ix + 1, iy, iz + 1), sx);
  const float x11 = Lerp(CornerValue(ix, iy + 1, iz + 1), CornerValue(ix + 1, iy + 1, iz + 1), sx);
  return Lerp(Lerp(x00, x10, sy), Lerp(x01, x11, sy), sz);
}

Vector3 NoiseVector(const Vector3& p) {
  const Vector3 offset{1000.0f, 1000.0f, 1000.0f};
  return {ValueNoise(p), ValueNoise(p + offset), ValueNoise(p - offset)};
}

float Turbulence(const Vector3& p, float footprint) {
  // The limit never exceeds 1, so this is one octave; the loop keeps the
  // rule's shape for a caller that ever passes a footprint below 1.
  const float limit = 1.0f / std::max(1.0f, footprint);
  if (!(limit > 0.0f)) {
    return 0.0f;
  }
  float sum = 0.0f;
  float scale = 1.0f;
  for (int n = 0; static_cast<float>(n) < limit && n < 32; ++n) {
    sum += ValueNoise(p * scale) / scale;
    scale *= 2.0f;
  }
  return sum;
}

Vector3 TurbulenceVector(const Vector3& p, float footprint) {
  const float limit = 1.0f / std::max(1.0f, footprint);
  if (!(limit > 0.0f)) {
    return {};
  }
  Vector3 sum;
  float scale = 1.0f;
  for (int n = 0; static_cast<float>(n) < limit && n < 32; ++n) {
    sum = sum + NoiseVector(p * scale) / scale;
    scale *= 2.0f;
  }
  return sum;
}

Vector3 TurbulentPoint(const TurbulenceRecord& turbulence, const Vector3& p, float footprint) {
  const Vector3 q{p.x * turbulence.scale.x, p.y * turbulence.scale.y, p.z * turbulence.scale.z};
  return p + TurbulenceVector(q, footprint) * turbulence.strength;
}

float CheckerValue(const PatternValues& values, const Vector3& p) {
  const float t[3] = {values.translate.x, values.translate.y, values.translate.z};
  const float s[3] = {values.scale.x, values.scale.y, values.scale.z};
  const float point[3] = {p.x, p.y, p.z};
  float nearest = 1.0e8f;
  bool odd = false;
  for (int axis = 0; axis < 3; ++axis) {
    if (s[axis] == 0.0f) {
      continue;
    }
    const float a = (t[axis] + point[axis] + 0.01f) / s[axis];
    const float cell = std::floor(a);
    float d = a - cell;
    if (d > 0.5f) {
      d = 1.0f - d;
    }
    nearest = std::min(nearest, d);
    // Parity without converting: a far cell index may not fit an integer.
    if (std::fabs(std::fmod(cell, 2.0f)) == 1.0f) {
      odd = !odd;
    }
  }
  const float blur = values.blur;
  const float v = 2.0f * nearest < blur ? (1.0f - 2.0f * nearest / blur) * 0.5f : 0.0f;
  return odd ? 1.0f - v : v;
}

float SphericalValue(const PatternValues& values, const Vector3& p) {
  const float r = Length(PatternSpace(values, p));
  const float blur = values.blur;
  if (r < values.radius1) {
    float x = r / values.radius1;
    if (x > 0.5f) {
      x = 1.0f - x;
    }
    return x >= blur / 2.0f ? 1.0f : x / blur + 0.5f;
  }
  if (values.radius2 <= 0.0f) {
    return 1.0f;  // no shell: everything outside radius 1 lies beyond it
  }
  float x = (r - values.radius1) / values.radius2;
  if (x > 0.5f) {
    x = 1.0f - x;
  }
  return x >= blur / 2.0f ? 0.0f : 0.5f - x / blur;
}

float NoiseValue(const PatternValues& values, const Vector3& p, float footprint) {
  return Turbulence(PatternSpace(values, p), footprint);
}

}  // namespace zentrope

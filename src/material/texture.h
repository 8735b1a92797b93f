// Procedural textures: value noise over a fixed table, turbulence, and the
// Checker, Spherical and Noise patterns that pattern nodes choose between
// their children by.
#pragma once

#include <array>

#include "core/vector3.h"
#include "material/material.h"

namespace zentrope {

inline constexpr int kNoiseTableSize = 1000;
inline constexpr int kNoiseSourceSize = 500;

// The fixed source values (0..1) the noise table is made from.
extern const std::array<float, kNoiseSourceSize> kNoiseSource;
// The noise table: entry i is source[(i + 1) mod 500] − 0.5. Built by the
// compiler, so it exists before start-up and is never freed.
extern const std::array<float, kNoiseTableSize> kNoiseTable;

// Smooth value noise in about −0.5..0.5: the table's values at the eight
// lattice corners around p, blended by 2f² / 1 − 2(1 − f)² weights. A point
// that is not finite gives 0.
float ValueNoise(const Vector3& p);
// ValueNoise at p, p + 1000 and p − 1000 on every axis.
Vector3 NoiseVector(const Vector3& p);
// Octaves of noise up to the footprint's limit (at most one).
float Turbulence(const Vector3& p, float footprint);
Vector3 TurbulenceVector(const Vector3& p, float footprint);
// The point a turbulence record displaces p to.
Vector3 TurbulentPoint(const TurbulenceRecord& turbulence, const Vector3& p, float footprint);

// The patterns on a node's derived values: 0 or 1 inside Checker cells,
// 1 / 0 / 1 inside, in the shell of and beyond a Spherical, signed noise.
float CheckerValue(const PatternValues& values, const Vector3& p);
float SphericalValue(const PatternValues& values, const Vector3& p);
float NoiseValue(const PatternValues& values, const Vector3& p, float footprint);

}  // namespace zentrope
